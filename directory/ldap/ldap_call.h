#pragma once

#include <ldap.h>
#include <sys/time.h>

#include <chrono>
#include <string>

#include "entry.h"

// Small helpers over libldap that the connection's files share.
namespace ldapdir {

// Integrity and confidentiality: the session must be encrypted before a password crosses it.
inline constexpr unsigned kMinimumSsf = 56;

// Whether a root DSE carries the capability with which Active Directory announces itself.
bool announcesActiveDirectory(const Entry& rootDse);

timeval toTimeval(std::chrono::milliseconds limit);
// The session's socket, or -1.
int socketOf(LDAP* ld);
// The server's diagnostic text of the last operation, or "".
std::string diagnostic(LDAP* ld);
// The result code of the last operation.
int resultCode(LDAP* ld);

} // namespace ldapdir
