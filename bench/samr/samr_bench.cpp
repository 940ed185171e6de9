// Times the SAMR backend's condition lookup: the first one of a window (connect, Kerberos, the
// routing decision), and one on an open pipe against the bare QueryUserInfo call on that pipe.
//   quill_samr_bench HOST ACCOUNT ROUNDS FIRSTS
// Prints "name value" lines (microseconds); bench/samr/run.sh turns them into ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "directory/adsi_control.h"
#include "directory/ldap/connection_cache.h"
#include "directory/ldap/kerberos_ticket.h"
#include "directory/platform_service.h"
#include "directory/samr/samr_pipe_cache.h"

namespace {

class Silent final : public quill::Operator {
public:
    int messageBox(const std::string&, int, const std::optional<std::string>&) override { return 1; }
    void setBusy(bool) override {}
    void reportEscapedError(long, const std::string&) override {}
};

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST ACCOUNT ROUNDS FIRSTS\n", argv[0]);
        return 2;
    }
    const std::string host = argv[1];
    const std::string account = argv[2];
    const int rounds = std::max(1, std::atoi(argv[3]));
    const int firsts = std::max(1, std::atoi(argv[4]));
    Silent op;

    // The first lookup of a window: nothing open, nothing decided.
    std::vector<double> first;
    std::string condition;
    for (int i = 0; i < firsts; ++i) {
        samrdir::SamrPipeCache::shared().clear();
        ldapdir::ConnectionCache::shared().clear();
        const auto service = directory::makePlatformService();
        directory::ADSIControl adsi(*service, op);
        adsi.setTargetDomainServer(host);
        const auto start = Clock::now();
        condition = adsi.Descriptioner(account);
        first.push_back(microseconds(Clock::now() - start));
        if (condition.empty()) {
            std::fprintf(stderr, "no condition for %s on %s\n", account.c_str(), host.c_str());
            return 1;
        }
    }

    // On the open pipe: the lookup the window makes, and the bare call on the same pipe,
    // interleaved so that both see the same server.
    const auto service = directory::makePlatformService();
    directory::ADSIControl adsi(*service, op);
    adsi.setTargetDomainServer(host);
    adsi.Descriptioner(account);
    const auto pipe = samrdir::SamrPipeCache::shared().forHost(host, ldapdir::KerberosTicket::current().principal());
    const auto found = pipe->queryUserByName(account);
    if (!found)
        return 1;
    std::vector<double> lookup;
    std::vector<double> raw;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        if (adsi.Descriptioner(account) != condition)
            return 1;
        lookup.push_back(microseconds(Clock::now() - start));
        start = Clock::now();
        pipe->queryUser(found->first);
        raw.push_back(microseconds(Clock::now() - start));
    }
    std::printf("condition %s\n", condition.c_str());
    std::printf("first_lookup_us %.0f\n", median(first));
    std::printf("first_lookup_max_us %.0f\n", *std::max_element(first.begin(), first.end()));
    std::printf("lookup_us %.1f\n", median(lookup));
    std::printf("raw_query_us %.1f\n", median(raw));
    return 0;
}
