#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ldapdir {

// What DNS says about where a domain's controllers are. A name server that does not answer
// (tries of 1 and 2 s) throws directory::Error kTimeout, so that a search through several names
// stops at the first silence instead of waiting once for each. One that answers that it cannot
// (SERVFAIL, REFUSED: a search-list domain whose own servers are broken) says "no such name".
class DcLocator {
public:
    // The domain controllers of a DNS domain from its _ldap._tcp.dc._msdcs SRV records, lowest
    // priority first and, within one priority, highest weight first. Each is a host name, with
    // ":port" when the port is not 389. Empty when the name has no such records.
    static std::vector<std::string> domainControllers(const std::string& dnsDomain);
    // The controllers of one site of the domain, from its _ldap._tcp.SITE._sites.dc._msdcs SRV
    // records, in the same order and form; a read-only controller registers only these.
    static std::vector<std::string> siteControllers(const std::string& site, const std::string& dnsDomain);
    // The PDC emulator from the _ldap._tcp.pdc._msdcs SRV record, in the same form; a first guess
    // only, since Samba leaves the record where the role first was.
    static std::vector<std::string> pdcEmulators(const std::string& dnsDomain);
    // The resolver's search list (the domains tried for a short name), in order.
    static std::vector<std::string> searchList();
    // Whether a host name resolves to an address (this thread's resolver kept to short tries).
    static bool resolves(const std::string& host);

    // Whether a query that failed with hErrno met a silent name server: answer, zeroed before
    // the query, then holds no response. The C library reports SERVFAIL and REFUSED as TRY_AGAIN,
    // as it does silence, but leaves the server's response in the buffer.
    static bool silentNameServer(int hErrno, const unsigned char* answer, std::size_t length);

private:
    static std::vector<std::string> services(const std::string& name);
};

// The C library waits 5 s per try for a silent name server, twice. While one of these lives, each
// try of this thread's resolver, which libraries called on the thread use too (getaddrinfo, and the
// Kerberos bind's host-name canonicalisation), waits 1 s, then 2 s; with tries 1, only the first.
class ShortResolverWaits {
public:
    explicit ShortResolverWaits(int tries = 2);
    ~ShortResolverWaits();
    ShortResolverWaits(const ShortResolverWaits&) = delete;
    ShortResolverWaits& operator=(const ShortResolverWaits&) = delete;

private:
    bool m_active = false;
    int m_retrans = 0;
    int m_retry = 0;
};

} // namespace ldapdir
