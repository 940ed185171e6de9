#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "directory/error.h"
#include "kerberos_ticket.h"
#include "read_only_controller.h"
#include "site_locator.h"

namespace ldapdir {

// The process-wide set of open domain controller connections, one per controller and Kerberos
// principal (a different ticket never reuses another user's session), and which controller serves
// which target name. A target that could not be reached is remembered as such for a short while
// (Timeouts::remember), so that looking up one account after another does not wait every time.
class ConnectionCache {
public:
    explicit ConnectionCache(Timeouts timeouts = {})
        : m_timeouts(timeouts), m_counts(std::make_shared<AttemptCounts>()) {}

    // The cache every LdapService shares.
    static ConnectionCache& shared();

    // A connection to a domain controller of the target: a DNS domain, a NetBIOS domain name or a
    // domain controller's host name. Throws directory::Error when none can be found or reached.
    // While the controller in use is remembered as failing, another controller of the domain
    // takes its place when one answers.
    std::shared_ptr<Connection> forTarget(std::string_view target, const KerberosTicket& ticket);

    // The PDC emulator of the domain inUse serves, when it is another controller and answers by
    // the time a lookup ends (at least the short limit); nullptr otherwise (including while its
    // failure is remembered). The role owner is read again from inUse when Timeouts::roleCheck
    // has passed, and once when the PDC emulator found has stopped answering.
    std::shared_ptr<Connection> pdcEmulator(Connection& inUse, const KerberosTicket& ticket,
                                            std::chrono::steady_clock::time_point lookupEnds);

    // A writable controller of inUse's domain, other than inUse, that answers; the client's site's
    // first. Where a write goes that the read-only controller in use cannot take while the PDC
    // emulator does not answer. Throws directory::Error when none answers.
    std::shared_ptr<Connection> writableController(const Connection& inUse, const KerberosTicket& ticket);
    // Every writable controller of inUse's domain that answers, within one connect limit in all.
    std::vector<std::shared_ptr<Connection>> writableControllers(const Connection& inUse, const KerberosTicket& ticket);
    // Asks the controller behind connection whether it is read-only, unless it told already.
    void learn(Connection& connection, bool again = false);
    // The lockouts cleared while a read-only controller showed them, for the cache's life.
    ClearedLocks& clearedLocks() noexcept { return m_clearedLocks; }

    // Closes every connection and forgets every failure.
    void clear();

    // How the connections of this cache spent their attempts so far.
    AttemptCounts counts() const;
    const Timeouts& timeouts() const noexcept { return m_timeouts; }

private:
    std::shared_ptr<Connection> resolve(const std::string& name, const KerberosTicket& ticket);
    std::shared_ptr<Connection> connect(const std::string& host, const KerberosTicket& ticket,
                                        std::optional<std::chrono::milliseconds> limit = std::nullopt);
    // The first of hosts to answer, however many are down, within one connect limit in all; the
    // others that did not answer are remembered as failing. Throws when none answered. raceLimit,
    // when given, is all the time the hosts get to answer before the bind.
    std::shared_ptr<Connection> connectAny(std::vector<std::string> hosts, const KerberosTicket& ticket,
                                           std::optional<std::chrono::milliseconds> raceLimit = std::nullopt);
    // inUse, unless target names its domain (not one controller) and inUse is outside the client's
    // site: then a controller of that site when one answers within the short limit.
    std::shared_ptr<Connection> closest(std::shared_ptr<Connection> inUse, const KerberosTicket& ticket,
                                        const std::string& target);
    // The domain's controllers that may take writes, the client's site's first, inUse left out.
    std::vector<std::string> writableHosts(const Connection& inUse);
    // Closes the connection a site's controller replaced, unless a target or the PDC emulator's role
    // still uses it.
    void release(const std::shared_ptr<Connection>& replaced, const KerberosTicket& ticket);
    std::shared_ptr<Connection> byNetbiosName(const std::string& name, const KerberosTicket& ticket);
    // The domain's controllers, found once per domain and kept for the cache's life.
    const std::vector<std::string>& controllers(const Connection& inUse);
    // Another controller of inUse's domain that answers; nullptr when every other one failed
    // moments ago. Throws when none of the others answers now.
    std::shared_ptr<Connection> replacement(const Connection& inUse, const KerberosTicket& ticket);
    // Whether host failed moments ago (within Timeouts::remember).
    bool failedRecently(const std::string& key) const;
    // The domain's role owner as last read, read again from inUse when that is due.
    const std::string& roleOwner(Connection& inUse, const KerberosTicket& ticket);
    // connect(), but nullptr for a host that failed moments ago or fails now.
    std::shared_ptr<Connection> tryConnect(const std::string& host, const KerberosTicket& ticket,
                                           std::chrono::milliseconds limit);

    struct Failure {
        std::chrono::steady_clock::time_point at;
        directory::Error error;
    };

    Timeouts m_timeouts;
    std::shared_ptr<AttemptCounts> m_counts;
    mutable std::mutex m_mutex;
    std::map<std::string, Failure> m_failedTargets;
    std::map<std::string, std::shared_ptr<Connection>> m_byHost;
    std::map<std::string, std::shared_ptr<Connection>> m_byTarget;
    std::map<std::string, std::chrono::steady_clock::time_point> m_failedHosts;
    std::map<std::string, std::vector<std::string>> m_controllers; // by DNS domain
    std::map<std::string, std::string> m_pdcHosts;                 // by DNS domain and role owner
    struct RoleOwner {
        std::string owner; // fSMORoleOwner of the domain head
        std::chrono::steady_clock::time_point readAt;
        bool readWhileFailing = false; // read since the PDC emulator last stopped answering
    };
    std::map<std::string, RoleOwner> m_roleOwners; // by DNS domain
    SiteLocator m_sites;
    ClearedLocks m_clearedLocks;
};

} // namespace ldapdir
