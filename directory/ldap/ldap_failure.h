#pragma once

#include <string>
#include <string_view>

#include "directory/error.h"

namespace ldapdir {

// A refusal by libldap or the server: the directory error an administrator can act on, keeping the
// LDAP result code for callers that give some codes their own meaning.
class LdapFailure : public directory::Error {
public:
    // host is the domain controller that was asked; diagnostic is the server's own text, of which
    // only its leading Windows error code (e.g. 0000052D) is shown.
    LdapFailure(int resultCode, std::string_view host, std::string_view diagnostic);

    int resultCode() const noexcept { return m_resultCode; }

    // The error number the directory interface uses for an LDAP result code.
    static long numberFor(int resultCode, std::string_view diagnostic) noexcept;

private:
    int m_resultCode;
};

// The connection is gone (server down, reset): the operation may be retried on a new one.
bool isConnectionLoss(int resultCode) noexcept;
// Gone, or silent for longer than the limit: the server may or may not have acted on a request.
bool isConnectionTrouble(int resultCode) noexcept;

} // namespace ldapdir
