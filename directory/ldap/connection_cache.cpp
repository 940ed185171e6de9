#include "connection_cache.h"

#include <ldap.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "ad_values.h"
#include "controller_race.h"
#include "dc_locator.h"
#include "directory/ascii.h"
#include "directory/error.h"
#include "ldap_failure.h"

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Asking the next controller while the one before is still silent: long enough for a healthy
// controller to answer first, short enough that many stopped ones fit in one limit.
constexpr milliseconds kNextControllerAfter{250};

bool unreachable(const directory::Error& error) {
    return error.number() == directory::codes::kServerUnavailable || error.number() == directory::codes::kTimeout;
}

milliseconds until(Clock::time_point deadline) {
    return std::max(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), milliseconds(1));
}

// The name as DNS knows it: no surrounding spaces, no final dot.
std::string dnsName(std::string_view target) {
    while (!target.empty() && target.front() == ' ')
        target.remove_prefix(1);
    while (!target.empty() && (target.back() == ' ' || target.back() == '.'))
        target.remove_suffix(1);
    return directory::asciiLower(target);
}

} // namespace

ConnectionCache& ConnectionCache::shared() {
    static ConnectionCache cache;
    return cache;
}

void ConnectionCache::clear() {
    const std::lock_guard lock(m_mutex);
    m_byTarget.clear();
    m_byHost.clear();
    m_failedTargets.clear();
    m_failedHosts.clear();
    m_controllers.clear();
    m_pdcHosts.clear();
    m_roleOwners.clear();
    m_sites.clear();
    m_clearedLocks.clear();
}

AttemptCounts ConnectionCache::counts() const {
    const std::lock_guard lock(m_mutex);
    return *m_counts;
}

std::shared_ptr<Connection> ConnectionCache::forTarget(std::string_view target, const KerberosTicket& ticket) {
    const std::string name = dnsName(target);
    if (name.empty())
        throw directory::Error(directory::codes::kBadPathName, "ドメインが指定されていません。");
    const std::lock_guard lock(m_mutex);
    const std::string key = ticket.principal() + '\n' + name;
    if (const auto found = m_byTarget.find(key); found != m_byTarget.end()) {
        if (found->second->failedRecently())
            if (auto other = replacement(*found->second, ticket)) {
                found->second = std::move(other);
                m_sites.learn(*found->second);
            }
        // Back in the client's site once one of its controllers answers again.
        if (auto closer = closest(found->second, ticket, name); closer != found->second)
            release(std::exchange(found->second, std::move(closer)), ticket);
        return found->second;
    }
    const auto now = std::chrono::steady_clock::now();
    if (const auto failed = m_failedTargets.find(key); failed != m_failedTargets.end()) {
        if (now - failed->second.at < m_timeouts.remember) {
            ++m_counts->remembered;
            throw failed->second.error;
        }
        m_failedTargets.erase(failed);
    }
    try {
        ++m_counts->discoveries;
        auto connection = resolve(name, ticket);
        controllers(*connection); // while the name server answers
        const auto first = connection;
        connection = closest(std::move(connection), ticket, name);
        m_byTarget[key] = connection;
        if (connection != first)
            release(first, ticket);
        return connection;
    } catch (const directory::Error& error) {
        // Only "cannot be reached": a refusal is fast to learn again, and may be mended at once.
        if (error.number() == directory::codes::kServerUnavailable || error.number() == directory::codes::kTimeout)
            m_failedTargets.insert_or_assign(key, Failure{now, error});
        throw;
    }
}

std::shared_ptr<Connection> ConnectionCache::connect(const std::string& host, const KerberosTicket& ticket,
                                                     std::optional<milliseconds> limit) {
    const std::string key = ticket.principal() + '\n' + directory::asciiLower(host);
    if (const auto found = m_byHost.find(key); found != m_byHost.end())
        return found->second;
    auto connection = std::make_shared<Connection>(host, m_timeouts, m_counts, limit);
    m_byHost[key] = connection;
    return connection;
}

bool ConnectionCache::failedRecently(const std::string& key) const {
    if (const auto failed = m_failedHosts.find(key);
        failed != m_failedHosts.end() && Clock::now() - failed->second < m_timeouts.remember)
        return true;
    const auto found = m_byHost.find(key);
    return found != m_byHost.end() && found->second->failedRecently();
}

std::shared_ptr<Connection> ConnectionCache::tryConnect(const std::string& host, const KerberosTicket& ticket,
                                                        milliseconds limit) {
    const std::string key = ticket.principal() + '\n' + directory::asciiLower(host);
    if (failedRecently(key))
        return nullptr;
    try {
        return connect(host, ticket, limit);
    } catch (const directory::Error& error) {
        if (!unreachable(error))
            throw;
        m_failedHosts[key] = Clock::now();
        return nullptr;
    }
}

const std::vector<std::string>& ConnectionCache::controllers(const Connection& inUse) {
    const std::string domain = directory::asciiLower(inUse.domain().dnsDomain);
    auto found = m_controllers.find(domain);
    if (found == m_controllers.end()) {
        // Asked once: while the window lives, a name server that stopped later costs nothing here.
        std::vector<std::string> hosts;
        try {
            hosts = DcLocator::domainControllers(domain);
        } catch (const directory::Error&) {
            // No list: the controller in use is all there is.
        }
        // Their addresses too, now: the name server may be the controller that stops.
        for (const auto& host : hosts)
            Connection::rememberAddresses(host);
        found = m_controllers.emplace(domain, std::move(hosts)).first;
    }
    return found->second;
}

std::shared_ptr<Connection> ConnectionCache::replacement(const Connection& inUse, const KerberosTicket& ticket) {
    std::vector<std::string> others;
    // The client's site's own first: its controllers are the near ones.
    for (const auto& host : SiteLocator::siteFirst(
             m_sites.siteControllers(directory::asciiLower(inUse.domain().dnsDomain)), controllers(inUse)))
        if (directory::asciiLower(host) != directory::asciiLower(inUse.host()) &&
            !failedRecently(ticket.principal() + '\n' + directory::asciiLower(host)))
            others.push_back(host);
    return others.empty() ? nullptr : connectAny(std::move(others), ticket);
}

const std::string& ConnectionCache::roleOwner(Connection& inUse, const KerberosTicket& ticket) {
    const std::string domain = directory::asciiLower(inUse.domain().dnsDomain);
    const auto now = Clock::now();
    // The first time, as the controller in use read it when it was bound.
    auto [known, first] = m_roleOwners.try_emplace(domain, RoleOwner{inUse.domain().roleOwner, now});
    RoleOwner& role = known->second;
    if (first)
        return role.owner;
    const auto host = m_pdcHosts.find(domain + '\n' + role.owner);
    // Another controller than the one in use, which the lookup asks anyway.
    const bool failing = host != m_pdcHosts.end() && !host->second.empty() &&
                         host->second != directory::asciiLower(inUse.host()) &&
                         failedRecently(ticket.principal() + '\n' + host->second);
    if (!failing)
        role.readWhileFailing = false;
    if (now - role.readAt < m_timeouts.roleCheck && (!failing || role.readWhileFailing))
        return role.owner;
    role.readAt = now;
    role.readWhileFailing = failing;
    try {
        const auto head =
            inUse.findOne(inUse.domain().defaultNamingContext, LDAP_SCOPE_BASE, "(objectClass=*)", {"fSMORoleOwner"});
        if (head && head->first("fSMORoleOwner"))
            role.owner = *head->first("fSMORoleOwner");
    } catch (const directory::Error&) {
        // The role as known stands; the search that follows meets the same trouble.
    }
    return role.owner;
}

std::shared_ptr<Connection> ConnectionCache::pdcEmulator(Connection& inUse, const KerberosTicket& ticket,
                                                         Clock::time_point lookupEnds) {
    const std::lock_guard lock(m_mutex);
    const std::string domain = directory::asciiLower(inUse.domain().dnsDomain);
    const std::string& owner = roleOwner(inUse, ticket);
    const std::string key = domain + '\n' + owner;
    auto found = m_pdcHosts.find(key);
    if (found == m_pdcHosts.end()) {
        // The role owner's server object names the host. Samba leaves the SRV record where the
        // role was first, so that record serves only when the role owner cannot be read.
        std::string host;
        bool unsure = false; // a read failed: ask again next time rather than go without for good
        if (const auto comma = owner.find(','); comma != std::string::npos) {
            try {
                const auto server =
                    inUse.findOne(owner.substr(comma + 1), LDAP_SCOPE_BASE, "(objectClass=*)", {"dNSHostName"});
                if (server)
                    host = directory::asciiLower(server->first("dNSHostName").value_or(""));
            } catch (const directory::Error&) {
                unsure = true;
            }
        }
        if (host.empty()) {
            try {
                const auto hosts = DcLocator::pdcEmulators(domain);
                if (!hosts.empty())
                    host = directory::asciiLower(hosts.front());
            } catch (const directory::Error&) {
                unsure = true; // no name server: the controller in use answers alone
            }
        }
        if (host.empty() && unsure)
            return nullptr;
        if (!host.empty())
            Connection::rememberAddresses(host);
        found = m_pdcHosts.emplace(key, host).first;
    }
    if (found->second.empty() || found->second == directory::asciiLower(inUse.host()))
        return nullptr;
    const auto left = std::chrono::duration_cast<milliseconds>(lookupEnds - Clock::now());
    return tryConnect(found->second, ticket,
                      std::clamp(left, std::min(m_timeouts.retry, m_timeouts.connect), m_timeouts.connect));
}

std::shared_ptr<Connection> ConnectionCache::connectAny(std::vector<std::string> hosts, const KerberosTicket& ticket,
                                                        std::optional<milliseconds> raceLimit) {
    // Asked all but at once rather than one after the other, so that no number of stopped
    // controllers makes the wait longer than one connect limit.
    const auto deadline = Clock::now() + m_timeouts.connect;
    AddressBook& book = AddressBook::shared();
    std::optional<directory::Error> last;
    while (!hosts.empty() && Clock::now() < deadline) {
        std::vector<std::vector<Address>> addresses;
        {
            const ShortResolverWaits shortWaits;
            for (const auto& host : hosts)
                addresses.push_back(book.lookUp(host, deadline - Clock::now() >= AddressBook::kRoomToAskAgain));
        }
        const RaceOutcome race = firstToAnswer(
            addresses, std::min(until(deadline), raceLimit.value_or(m_timeouts.connect)), kNextControllerAfter);
        for (std::size_t i = 0; i < hosts.size(); ++i)
            if (race.unreachable[i])
                book.markFailed(hosts[i]);
        if (!race.winner) {
            std::string names;
            for (const auto& host : hosts) {
                names += (names.empty() ? "" : ", ") + host;
                m_failedHosts[ticket.principal() + '\n' + directory::asciiLower(host)] = Clock::now();
            }
            throw LdapFailure(race.timedOut ? LDAP_TIMEOUT : LDAP_SERVER_DOWN, names, "");
        }
        const std::string host = hosts[*race.winner];
        try {
            return connect(host, ticket, until(deadline));
        } catch (const directory::Error& error) {
            if (!unreachable(error))
                throw; // refused authentication is no reason to try another controller
            m_failedHosts[ticket.principal() + '\n' + directory::asciiLower(host)] = Clock::now();
            last = error;
        }
        hosts.erase(hosts.begin() + static_cast<std::ptrdiff_t>(*race.winner));
    }
    if (last)
        throw *last;
    if (hosts.empty())
        throw directory::Error(directory::codes::kServerUnavailable, "ドメインコントローラーが見つかりません。");
    throw directory::Error(directory::codes::kTimeout, "ドメインコントローラーから応答がありません。");
}

std::shared_ptr<Connection> ConnectionCache::byNetbiosName(const std::string& name, const KerberosTicket& ticket) {
    // Domains worth asking: the ticket's own realm, then the resolver's search list.
    std::vector<std::string> candidates{directory::asciiLower(ticket.realm())};
    for (const auto& domain : DcLocator::searchList())
        if (std::find(candidates.begin(), candidates.end(), directory::asciiLower(domain)) == candidates.end())
            candidates.push_back(directory::asciiLower(domain));

    std::optional<directory::Error> last;
    for (const auto& candidate : candidates) {
        const auto hosts = DcLocator::domainControllers(candidate);
        if (hosts.empty())
            continue;
        try {
            auto connection = connectAny(hosts, ticket);
            if (directory::asciiLower(connection->domain().netbiosName) == name)
                return connection;
            // Another domain of the same forest may carry the name.
            const auto crossRef = connection->findOne(
                "CN=Partitions," + connection->domain().configurationNamingContext, LDAP_SCOPE_ONELEVEL,
                "(&(objectClass=crossRef)(nETBIOSName=" + escapeFilterValue(name) + "))", {"dnsRoot"});
            if (crossRef && crossRef->first("dnsRoot")) {
                const auto others = DcLocator::domainControllers(directory::asciiLower(*crossRef->first("dnsRoot")));
                if (!others.empty())
                    return connectAny(others, ticket);
            }
        } catch (const directory::Error& error) {
            last = error;
        }
    }
    if (last)
        throw *last;
    return nullptr;
}

std::shared_ptr<Connection> ConnectionCache::resolve(const std::string& name, const KerberosTicket& ticket) {
    if (name.find('.') != std::string::npos) {
        const auto hosts = DcLocator::domainControllers(name);
        if (!hosts.empty())
            return connectAny(hosts, ticket);
        return connect(name, ticket); // a domain controller's own host name
    }
    // A single label: a NetBIOS domain name, or a controller's short host name.
    std::optional<directory::Error> failure;
    try {
        if (auto connection = byNetbiosName(name, ticket))
            return connection;
    } catch (const directory::Error& error) {
        if (error.number() == directory::codes::kTimeout)
            throw; // waited once already; the search list would only wait again
        failure = error;
    }
    // The Kerberos service name needs the full host name, so complete it from the search list.
    for (const auto& domain : DcLocator::searchList()) {
        const std::string host = name + "." + directory::asciiLower(domain);
        if (DcLocator::resolves(host))
            return connect(host, ticket);
    }
    if (failure)
        throw *failure;
    throw directory::Error(directory::codes::kServerUnavailable,
                           "Active Directory のドメインまたはドメインコントローラー " + name + " が見つかりません。");
}

} // namespace ldapdir
