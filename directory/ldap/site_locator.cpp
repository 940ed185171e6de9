#include "site_locator.h"

#include <algorithm>
#include <cctype>

#include "connection.h"
#include "dc_locator.h"
#include "directory/ascii.h"
#include "directory/error.h"

namespace ldapdir {

void SiteLocator::learn(Connection& connection, bool again) {
    const std::string host = directory::asciiLower(connection.host());
    auto known = m_answers.find(host);
    if (known == m_answers.end() || (!known->second && again)) {
        // A controller that failed moments ago is not kept waiting for: it is asked another time.
        if (connection.failedRecently())
            return;
        std::optional<PingAnswer> answer;
        try {
            answer = ping(connection);
        } catch (const directory::Error&) {
            // the failure is the connection's to remember
        }
        known = m_answers.insert_or_assign(host, std::move(answer)).first;
    }
    if (!known->second)
        return;
    connection.setReadOnly(!known->second->writable());
    Site& site = m_sites[directory::asciiLower(connection.domain().dnsDomain)];
    if (site.name.empty())
        site.name = known->second->clientSite;
}

bool SiteLocator::outsideClientSite(const Connection& connection) const {
    const auto answer = m_answers.find(directory::asciiLower(connection.host()));
    const auto site = m_sites.find(directory::asciiLower(connection.domain().dnsDomain));
    return answer != m_answers.end() && answer->second && site != m_sites.end() && !site->second.name.empty() &&
           directory::asciiLower(answer->second->serverSite) != directory::asciiLower(site->second.name);
}

const std::vector<std::string>& SiteLocator::siteControllers(const std::string& dnsDomain) {
    static const std::vector<std::string> kNone;
    const auto found = m_sites.find(directory::asciiLower(dnsDomain));
    if (found == m_sites.end() || found->second.name.empty() || !dnsLabel(found->second.name))
        return kNone;
    Site& site = found->second;
    if (!site.controllers) {
        try {
            site.controllers = DcLocator::siteControllers(site.name, directory::asciiLower(dnsDomain));
        } catch (const directory::Error&) {
            site.controllers.emplace(); // a silent name server is not asked again: the domain's list serves
        }
        for (const auto& host : *site.controllers)
            Connection::rememberAddresses(host);
    }
    return *site.controllers;
}

bool SiteLocator::readOnly(const std::string& host) const {
    const auto found = m_answers.find(directory::asciiLower(host));
    return found != m_answers.end() && found->second && !found->second->writable();
}

void SiteLocator::clear() {
    m_answers.clear();
    m_sites.clear();
}

std::vector<std::string> SiteLocator::siteFirst(const std::vector<std::string>& site,
                                                const std::vector<std::string>& domain) {
    std::vector<std::string> hosts;
    for (const auto* list : {&site, &domain})
        for (const auto& host : *list)
            if (std::none_of(hosts.begin(), hosts.end(), [&](const std::string& h) {
                    return directory::asciiLower(h) == directory::asciiLower(host);
                }))
                hosts.push_back(host);
    return hosts;
}

bool SiteLocator::dnsLabel(const std::string& site) {
    return !site.empty() && site.size() <= 63 && site.front() != '-' && site.back() != '-' &&
           std::all_of(site.begin(), site.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

} // namespace ldapdir
