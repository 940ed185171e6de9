#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "directory/service.h"

namespace ldapdir {

class ConnectionCache;

// Active Directory domains over LDAP, with the user's own Kerberos ticket (SASL GSSAPI, default
// credential cache). The target of a path is a DNS domain, a NetBIOS domain name or a domain
// controller's host name. No password is ever asked for or kept. Connections stay open across
// binds (one per domain controller and user); the objects are bound afresh every time.
class LdapService final : public directory::Service {
public:
    // Uses the process-wide connection cache.
    LdapService();
    // Uses the given cache, which must outlive the service (tests with their own time-outs).
    explicit LdapService(ConnectionCache& cache) : m_cache(cache) {}

    // WinNT://target/name,User, WinNT://target/name,Group, WinNT://target/name (user or group)
    // and WinNT://target (the domain). Throws directory::Error: no ticket, unreachable or unknown
    // domain, no such account, or a path this backend does not serve.
    std::unique_ptr<directory::Object> bind(std::string_view path) override;

private:
    // The distinguished name of the user or group a WinNT path names.
    std::string memberDn(const std::string& path);

    ConnectionCache& m_cache;
};

} // namespace ldapdir
