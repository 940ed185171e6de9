// The connection cache and the forest's sites: the client's own site's controllers first, and
// writes kept away from read-only controllers.
#include <algorithm>

#include "connection_cache.h"
#include "directory/ascii.h"
#include "directory/error.h"

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

} // namespace

void ConnectionCache::learn(Connection& connection, bool again) {
    const std::lock_guard lock(m_mutex);
    m_sites.learn(connection, again);
}

std::shared_ptr<Connection> ConnectionCache::closest(std::shared_ptr<Connection> inUse, const KerberosTicket& ticket,
                                                     const std::string& target) {
    m_sites.learn(*inUse);
    const DomainInfo& domain = inUse->domain();
    // Looked up now, while the name server answers: a failover later needs them.
    const auto& site = m_sites.siteControllers(domain.dnsDomain);
    // A controller named by its host name is the one asked for.
    if ((target != directory::asciiLower(domain.dnsDomain) && target != directory::asciiLower(domain.netbiosName)) ||
        !m_sites.outsideClientSite(*inUse))
        return inUse;
    std::vector<std::string> hosts;
    for (const auto& host : site)
        if (directory::asciiLower(host) != directory::asciiLower(inUse->host()) &&
            !failedRecently(ticket.principal() + '\n' + directory::asciiLower(host)))
            hosts.push_back(host);
    if (hosts.empty())
        return inUse;
    try {
        // The short limit: the controller found first already answers, so a silent site waits little.
        auto closer = connectAny(hosts, ticket, std::min(m_timeouts.retry, m_timeouts.connect));
        m_sites.learn(*closer);
        return closer;
    } catch (const directory::Error&) {
        // Not asked again until the failure is forgotten, whatever it was.
        for (const auto& host : hosts)
            m_failedHosts[ticket.principal() + '\n' + directory::asciiLower(host)] = Clock::now();
        return inUse;
    }
}

void ConnectionCache::release(const std::shared_ptr<Connection>& replaced, const KerberosTicket& ticket) {
    const std::string host = directory::asciiLower(replaced->host());
    const bool kept =
        std::any_of(m_byTarget.begin(), m_byTarget.end(), [&](const auto& t) { return t.second == replaced; }) ||
        std::any_of(m_pdcHosts.begin(), m_pdcHosts.end(), [&](const auto& p) { return p.second == host; });
    if (!kept)
        m_byHost.erase(ticket.principal() + '\n' + host);
}

std::vector<std::string> ConnectionCache::writableHosts(const Connection& inUse) {
    std::vector<std::string> hosts;
    for (const auto& host :
         SiteLocator::siteFirst(m_sites.siteControllers(inUse.domain().dnsDomain), controllers(inUse)))
        if (directory::asciiLower(host) != directory::asciiLower(inUse.host()) && !m_sites.readOnly(host))
            hosts.push_back(host);
    return hosts;
}

std::shared_ptr<Connection> ConnectionCache::writableController(const Connection& inUse, const KerberosTicket& ticket) {
    const std::lock_guard lock(m_mutex);
    for (;;) {
        std::vector<std::string> hosts;
        for (const auto& host : writableHosts(inUse))
            if (!failedRecently(ticket.principal() + '\n' + directory::asciiLower(host)))
                hosts.push_back(host);
        if (hosts.empty())
            throw directory::Error(directory::codes::kServerUnavailable,
                                   "読み取り専用のドメインコントローラー " + inUse.host() +
                                       " には書き込めず、書き込みのできるドメインコントローラーが応答しません。");
        auto connection = connectAny(std::move(hosts), ticket);
        m_sites.learn(*connection);
        if (!connection->readOnly())
            return connection;
    }
}

std::vector<std::shared_ptr<Connection>> ConnectionCache::writableControllers(const Connection& inUse,
                                                                              const KerberosTicket& ticket) {
    const std::lock_guard lock(m_mutex);
    const auto deadline = Clock::now() + m_timeouts.connect;
    std::vector<std::shared_ptr<Connection>> found;
    for (const auto& host : writableHosts(inUse)) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left <= milliseconds(0))
            break;
        if (auto connection = tryConnect(host, ticket, left)) {
            m_sites.learn(*connection);
            if (!connection->readOnly())
                found.push_back(std::move(connection));
        }
    }
    return found;
}

} // namespace ldapdir
