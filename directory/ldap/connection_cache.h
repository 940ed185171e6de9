#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "kerberos_ticket.h"

namespace ldapdir {

// The process-wide set of open domain controller connections, one per controller and Kerberos
// principal (a different ticket never reuses another user's session), and which controller serves
// which target name.
class ConnectionCache {
public:
    explicit ConnectionCache(Timeouts timeouts = {}) : m_timeouts(timeouts) {}

    // The cache every LdapService shares.
    static ConnectionCache& shared();

    // A connection to a domain controller of the target: a DNS domain, a NetBIOS domain name or a
    // domain controller's host name. Throws directory::Error when none can be found or reached.
    std::shared_ptr<Connection> forTarget(std::string_view target, const KerberosTicket& ticket);

    // Closes every connection.
    void clear();

private:
    std::shared_ptr<Connection> resolve(const std::string& name, const KerberosTicket& ticket);
    std::shared_ptr<Connection> connect(const std::string& host, const KerberosTicket& ticket);
    std::shared_ptr<Connection> connectAny(const std::vector<std::string>& hosts, const KerberosTicket& ticket);
    std::shared_ptr<Connection> byNetbiosName(const std::string& name, const KerberosTicket& ticket);

    Timeouts m_timeouts;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Connection>> m_byHost;
    std::map<std::string, std::shared_ptr<Connection>> m_byTarget;
};

} // namespace ldapdir
