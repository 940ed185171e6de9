#include "dc_locator.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "directory/error.h"

namespace ldapdir {

namespace {

// The resolver state for one look-up, released on every path.
class Resolver {
public:
    explicit Resolver(int tries = 2) {
        std::memset(&m_state, 0, sizeof m_state);
        m_ok = res_ninit(&m_state) == 0;
        if (m_ok) {
            // An unreachable name server must not hold the window for long.
            m_state.retrans = std::min(m_state.retrans, 1);
            m_state.retry = std::min(m_state.retry, tries);
        }
    }
    ~Resolver() {
        if (m_ok)
            res_nclose(&m_state);
    }
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    bool ok() const noexcept { return m_ok; }
    res_state state() noexcept { return &m_state; }

private:
    struct __res_state m_state;
    bool m_ok = false;
};

struct Target {
    unsigned priority;
    unsigned weight;
    std::string host;
};

[[noreturn]] void silent(const std::string& name) {
    throw directory::Error(directory::codes::kTimeout, "名前サーバーが応答しないため、" + name + " を調べられません。");
}

} // namespace

ShortResolverWaits::ShortResolverWaits(int tries) {
    if (!(_res.options & RES_INIT) && res_init() != 0)
        return;
    m_active = true;
    m_retrans = _res.retrans;
    m_retry = _res.retry;
    _res.retrans = std::min(_res.retrans, 1);
    _res.retry = std::min(_res.retry, tries);
}

ShortResolverWaits::~ShortResolverWaits() {
    if (m_active) {
        _res.retrans = m_retrans;
        _res.retry = m_retry;
    }
}

std::vector<std::string> DcLocator::domainControllers(const std::string& dnsDomain) {
    return dnsDomain.empty() ? std::vector<std::string>{} : services("_ldap._tcp.dc._msdcs." + dnsDomain);
}

std::vector<std::string> DcLocator::siteControllers(const std::string& site, const std::string& dnsDomain) {
    return site.empty() || dnsDomain.empty() ? std::vector<std::string>{}
                                             : services("_ldap._tcp." + site + "._sites.dc._msdcs." + dnsDomain);
}

std::vector<std::string> DcLocator::pdcEmulators(const std::string& dnsDomain) {
    return dnsDomain.empty() ? std::vector<std::string>{} : services("_ldap._tcp.pdc._msdcs." + dnsDomain);
}

bool DcLocator::silentNameServer(int hErrno, const unsigned char* answer, std::size_t length) {
    const bool response = length >= NS_HFIXEDSZ && (answer[2] & 0x80) != 0; // the QR bit
    return hErrno == TRY_AGAIN && !response;
}

std::vector<std::string> DcLocator::services(const std::string& name) {
    Resolver resolver;
    if (!resolver.ok())
        return {};
    std::vector<unsigned char> answer(8192);
    const int length =
        res_nquery(resolver.state(), name.c_str(), ns_c_in, ns_t_srv, answer.data(), static_cast<int>(answer.size()));
    if (length <= 0) {
        if (silentNameServer(resolver.state()->res_h_errno, answer.data(), answer.size()))
            silent(name);
        return {};
    }
    ns_msg message;
    if (ns_initparse(answer.data(), std::min(length, static_cast<int>(answer.size())), &message) != 0)
        return {};

    std::vector<Target> targets;
    const int count = ns_msg_count(message, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) != 0 || ns_rr_type(record) != ns_t_srv || ns_rr_rdlen(record) < 7)
            continue;
        const unsigned char* data = ns_rr_rdata(record);
        const unsigned priority = ns_get16(data);
        const unsigned weight = ns_get16(data + 2);
        const unsigned port = ns_get16(data + 4);
        char host[NS_MAXDNAME];
        if (dn_expand(ns_msg_base(message), ns_msg_end(message), data + 6, host, sizeof host) < 0)
            continue;
        std::string entry(host);
        if (entry.empty() || entry == ".")
            continue; // "service not available here"
        if (port != 389)
            entry += ":" + std::to_string(port);
        targets.push_back({priority, weight, std::move(entry)});
    }
    std::stable_sort(targets.begin(), targets.end(), [](const Target& a, const Target& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
    std::vector<std::string> hosts;
    for (auto& target : targets)
        hosts.push_back(std::move(target.host));
    return hosts;
}

std::vector<std::string> DcLocator::searchList() {
    Resolver resolver;
    std::vector<std::string> domains;
    if (!resolver.ok())
        return domains;
    for (char** d = resolver.state()->dnsrch; d < resolver.state()->dnsrch + MAXDNSRCH && *d; ++d)
        domains.emplace_back(*d);
    return domains;
}

bool DcLocator::resolves(const std::string& host) {
    const ShortResolverWaits shortWaits;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc == EAI_AGAIN) {
        // Silence and a server's SERVFAIL look alike here: one short try of its own tells them apart.
        Resolver resolver(1);
        std::vector<unsigned char> answer(NS_PACKETSZ);
        if (!resolver.ok())
            silent(host);
        const int length =
            res_nquery(resolver.state(), host.c_str(), ns_c_in, ns_t_a, answer.data(), static_cast<int>(answer.size()));
        if (length <= 0 && silentNameServer(resolver.state()->res_h_errno, answer.data(), answer.size()))
            silent(host);
        return length > 0;
    }
    if (rc != 0)
        return false;
    freeaddrinfo(result);
    return true;
}

} // namespace ldapdir
