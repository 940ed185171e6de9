#pragma once

#include <string>
#include <string_view>

#include "directory/error.h"

namespace ldapdir {

// A refusal by libldap or the server: the directory error an administrator can act on, keeping the
// LDAP result code for callers that give some codes their own meaning.
class LdapFailure : public directory::Error {
public:
    // context says what was being done, e.g. "Modify CN=jdoe,CN=Users,DC=quill,DC=test";
    // diagnostic is the server's own text, shown as it came.
    LdapFailure(int resultCode, std::string_view context, std::string_view diagnostic);

    int resultCode() const noexcept { return m_resultCode; }

    // The error number the directory interface uses for an LDAP result code.
    static long numberFor(int resultCode, std::string_view diagnostic) noexcept;

private:
    int m_resultCode;
};

// The connection is gone (server down, reset, time-out): the operation may be retried on a new one.
bool isConnectionLoss(int resultCode) noexcept;

} // namespace ldapdir
