#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "netlogon_ping.h"

namespace ldapdir {

class Connection;

// Where the client is among the forest's sites, found as Windows' locator finds it: a controller
// answers the LDAP ping with the site of the address the client's connection comes from, and the
// controllers of that site (its _ldap._tcp.SITE._sites.dc._msdcs SRV records) serve before the
// rest of the domain's. What each controller says of itself is kept too, so that a read-only one is
// known before anything is written there. Kept for the life of the connection cache that holds it,
// which serializes every call.
class SiteLocator {
public:
    // Pings the controller behind connection once per host (again, when asked to, if it answered no
    // ping) and marks the connection read-only when it is. The first answer in a domain names the
    // client's site there. A controller that answers no ping is taken as writable, as before sites.
    void learn(Connection& connection, bool again = false);
    // Whether the controller in use is known to be in another site than the client's. False while
    // either site is unknown, or when the client's address is in no site.
    bool outsideClientSite(const Connection& connection) const;
    // The controllers of the client's site in a DNS domain, looked up once while the name server
    // answers, with their addresses; empty while the site is unknown.
    const std::vector<std::string>& siteControllers(const std::string& dnsDomain);
    // Whether the controller on host said it is read-only.
    bool readOnly(const std::string& host) const;
    void clear();

    // The hosts of the client's site first, then the domain's others, each once, in their order.
    static std::vector<std::string> siteFirst(const std::vector<std::string>& site,
                                              const std::vector<std::string>& domain);
    // Whether a site name can stand as one label of a DNS name: a name that cannot has no records
    // of its own, and is never put into a query.
    static bool dnsLabel(const std::string& site);

private:
    struct Site {
        std::string name;
        std::optional<std::vector<std::string>> controllers;
    };
    std::map<std::string, std::optional<PingAnswer>> m_answers; // by host; nothing: no answer
    std::map<std::string, Site> m_sites;                        // by DNS domain
};

} // namespace ldapdir
