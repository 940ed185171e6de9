// The connection cache and the forest's sites: the client's own site's controllers first.
#include <algorithm>
#include <cctype>

#include "connection_cache.h"
#include "directory/error.h"

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

} // namespace

std::shared_ptr<Connection> ConnectionCache::closest(std::shared_ptr<Connection> inUse, const KerberosTicket& ticket,
                                                     const std::string& target) {
    m_sites.learn(*inUse);
    const DomainInfo& domain = inUse->domain();
    // Looked up now, while the name server answers: a failover later needs them.
    const auto& site = m_sites.siteControllers(domain.dnsDomain);
    // A controller named by its host name is the one asked for.
    if ((target != lower(domain.dnsDomain) && target != lower(domain.netbiosName)) ||
        !m_sites.outsideClientSite(*inUse))
        return inUse;
    std::vector<std::string> hosts;
    for (const auto& host : site)
        if (lower(host) != lower(inUse->host()) && !failedRecently(ticket.principal() + '\n' + lower(host)))
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
            m_failedHosts[ticket.principal() + '\n' + lower(host)] = Clock::now();
        return inUse;
    }
}

void ConnectionCache::release(const std::shared_ptr<Connection>& replaced, const KerberosTicket& ticket) {
    const std::string host = lower(replaced->host());
    const bool kept =
        std::any_of(m_byTarget.begin(), m_byTarget.end(), [&](const auto& t) { return t.second == replaced; }) ||
        std::any_of(m_pdcHosts.begin(), m_pdcHosts.end(), [&](const auto& p) { return p.second == host; });
    if (!kept)
        m_byHost.erase(ticket.principal() + '\n' + host);
}

} // namespace ldapdir
