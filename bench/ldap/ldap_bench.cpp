// Measures the LDAP backend against the domain controller of bench/ldap/run.sh.
//   ldap_bench condition ROUNDS   ShowAccountCondition end to end vs one raw search per lookup
//   ldap_bench formload           the window's Form_Load (account list) once, then exits
//   ldap_bench rss                Form_Load, then prints the resident memory in KiB
//   ldap_bench cpu                Form_Load, then prints the processor time it used (user + system)
//   ldap_bench pair ROUNDS        with two controllers (samba-dc.sh start STATE pair): a lookup
//                                 through the first, which also asks the PDC emulator, vs one
//                                 through the PDC emulator itself, which asks no other; wall time
//                                 and this program's own processor time
//   ldap_bench branch ROUNDS      with the client in the enterprise's branch office (samba-dc.sh
//                                 client STATE branch): the lookup through the program, which finds
//                                 the client's site and reads at its read-only controller, vs a raw
//                                 search at that controller
//   ldap_bench first              a window's first lookup, discovery included, in milliseconds
#include <ldap.h>
#include <sasl/sasl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/lock_opener.h"
#include "directory/ldap/connection_cache.h"
#include "directory/ldap/ldap_service.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHost = "ldap://dc1.quill.test";
constexpr const char* kBase = "DC=quill,DC=test";

struct Window {
    ldapdir::LdapService service;
    fakes::FakeComputerSystem computer;
    fakes::ScriptedOperator op;
    fakes::FixedClock clock;
    app::Form form;
    std::string commandLine;
    app::Environment env{service, computer, op, clock};
    app::LockOpener window{form, env, commandLine};

    Window() { computer.systems = {{"quill.test", "BENCH"}}; }
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

int quiet(LDAP*, unsigned, void*, void* prompts) {
    for (auto* item = static_cast<sasl_interact_t*>(prompts); item->id != SASL_CB_LIST_END; ++item) {
        item->result = "";
        item->len = 0;
    }
    return LDAP_SUCCESS;
}

// The reference: a plain libldap connection, bound and sealed the same way, searching directly.
LDAP* openRaw(const char* uri = kHost) {
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, uri) != LDAP_SUCCESS)
        throw std::runtime_error("ldap_initialize failed");
    int version = LDAP_VERSION3;
    char secprops[] = "minssf=56";
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    ldap_set_option(ld, LDAP_OPT_X_SASL_SECPROPS, secprops);
    const int rc =
        ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, quiet, nullptr);
    if (rc != LDAP_SUCCESS)
        throw std::runtime_error(std::string("bind failed: ") + ldap_err2string(rc));
    return ld;
}

void rawLookup(LDAP* ld, const std::string& account) {
    static const char* attributes[] = {"sAMAccountName",     "description",
                                       "userAccountControl", "msDS-User-Account-Control-Computed",
                                       "sAMAccountType",     nullptr};
    const std::string filter = "(sAMAccountName=" + account + ")";
    LDAPMessage* result = nullptr;
    const int rc = ldap_search_ext_s(ld, kBase, LDAP_SCOPE_SUBTREE, filter.c_str(), const_cast<char**>(attributes), 0,
                                     nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &result);
    if (rc != LDAP_SUCCESS || ldap_count_entries(ld, result) != 1)
        throw std::runtime_error("raw search failed");
    ldap_msgfree(result);
}

int condition(int rounds) {
    Window w;
    const char* names[] = {"jdoe", "trail"};
    // Warm both sides up: connections open, caches filled.
    if (!w.window.textEdited("account_Combo", "stopped") || w.form.text("DisplayCondition").empty())
        throw std::runtime_error("the condition lookup failed: is the controller up?");
    LDAP* ld = openRaw();
    rawLookup(ld, "stopped");

    double core = 0;
    double raw = 0;
    // Interleaved blocks, so drift on the machine hits both sides alike.
    const int block = 50;
    for (int done = 0; done < rounds; done += block) {
        auto start = Clock::now();
        for (int i = 0; i < block; ++i)
            if (!w.window.textEdited("account_Combo", names[i % 2]) || w.form.text("DisplayCondition").empty())
                throw std::runtime_error("lookup failed");
        core += std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        for (int i = 0; i < block; ++i)
            rawLookup(ld, names[i % 2]);
        raw += std::chrono::duration<double>(Clock::now() - start).count();
    }
    ldap_unbind_ext(ld, nullptr, nullptr);
    const int total = (rounds + block - 1) / block * block;
    std::cout << "condition_core_ms " << core * 1000 / total << "\n"
              << "condition_raw_ms " << raw * 1000 / total << "\n"
              << "condition_ratio " << core / raw << "\n";
    return 0;
}

// The condition of two accounts, alternately, in blocks; returns the seconds spent.
double lookups(Window& w, int count) {
    const char* names[] = {"jdoe", "trail"};
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        if (!w.window.textEdited("account_Combo", names[i % 2]) || w.form.text("DisplayCondition").empty())
            throw std::runtime_error("lookup failed");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processorSeconds();

int pair(int rounds) {
    Window two;
    Window one;
    if (!two.window.textEdited("trgSrv", "dc1.quill.test") || !one.window.textEdited("trgSrv", "dc2.quill.test"))
        throw std::runtime_error("the target could not be set");
    for (Window* w : {&two, &one})
        if (!w->window.textEdited("account_Combo", "stopped") || w->form.text("DisplayCondition").empty())
            throw std::runtime_error("the condition lookup failed: are both controllers up?");
    // Interleaved blocks; the median of the blocks, so that a burst of other load on the machine
    // does not decide the ratio.
    std::vector<double> withPdc;
    std::vector<double> alone;
    std::vector<double> ratios;
    double cpuTwo = 0;
    double cpuOne = 0;
    const int block = 50;
    for (int done = 0; done < rounds; done += block) {
        double cpu = processorSeconds();
        withPdc.push_back(lookups(two, block) * 1000 / block);
        cpuTwo += processorSeconds() - cpu;
        cpu = processorSeconds();
        alone.push_back(lookups(one, block) * 1000 / block);
        cpuOne += processorSeconds() - cpu;
        ratios.push_back(withPdc.back() / alone.back());
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::cout << "pair_two_ms " << median(withPdc) << "\n"
              << "pair_one_ms " << median(alone) << "\n"
              << "pair_ratio " << median(ratios) << "\n"
              << "pair_two_cpu_ms " << cpuTwo * 1000 / rounds << "\n"
              << "pair_one_cpu_ms " << cpuOne * 1000 / rounds << "\n";
    return 0;
}

// The median of the interleaved blocks, as for two controllers.
int branch(int rounds) {
    Window w;
    if (!w.window.textEdited("account_Combo", "stopped") || w.form.text("DisplayCondition").empty())
        throw std::runtime_error("the condition lookup failed: is the enterprise up?");
    const std::string served =
        ldapdir::ConnectionCache::shared().forTarget("quill.test", ldapdir::KerberosTicket::current())->host();
    if (served != "rodc.quill.test")
        throw std::runtime_error("the branch's own controller does not serve its reads: " + served);
    LDAP* ld = openRaw("ldap://rodc.quill.test");
    rawLookup(ld, "stopped");
    const char* names[] = {"jdoe", "trail"};
    std::vector<double> program, raw, ratios;
    const int block = 50;
    for (int done = 0; done < rounds; done += block) {
        program.push_back(lookups(w, block) * 1000 / block);
        const auto start = Clock::now();
        for (int i = 0; i < block; ++i)
            rawLookup(ld, names[i % 2]);
        raw.push_back(std::chrono::duration<double>(Clock::now() - start).count() * 1000 / block);
        ratios.push_back(program.back() / raw.back());
    }
    ldap_unbind_ext(ld, nullptr, nullptr);
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::cout << "branch_ms " << median(program) << "\n"
              << "branch_raw_ms " << median(raw) << "\n"
              << "branch_ratio " << median(ratios) << "\n";
    return 0;
}

// Once per process: nothing is known yet, as in a window just opened.
int first() {
    Window w;
    const auto start = Clock::now();
    if (!w.window.textEdited("account_Combo", "jdoe") || w.form.text("DisplayCondition").empty())
        throw std::runtime_error("the first lookup failed");
    std::cout << std::chrono::duration<double>(Clock::now() - start).count() * 1000 << "\n";
    return 0;
}

enum class Report { Nothing, Memory, Processor };

// The program's own work, apart from the time it waits for the server.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int formload(Report report) {
    Window w;
    if (!w.window.dispatch("LockOpener", app::Event::Load))
        throw std::runtime_error("Form_Load failed: " + (w.op.escaped.empty() ? "" : w.op.escaped[0].second));
    if (report == Report::Memory)
        std::cout << "accounts " << w.form.items("account_Combo").size() << "\nrss_kib " << residentKiB() << "\n";
    if (report == Report::Processor)
        std::cout << processorSeconds() << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "pair")
            return pair(argc > 2 ? std::stoi(argv[2]) : 1000);
        if (mode == "branch")
            return branch(argc > 2 ? std::stoi(argv[2]) : 1000);
        if (mode == "first")
            return first();
        if (mode == "condition")
            return condition(argc > 2 ? std::stoi(argv[2]) : 1000);
        if (mode == "formload")
            return formload(Report::Nothing);
        if (mode == "rss")
            return formload(Report::Memory);
        if (mode == "cpu")
            return formload(Report::Processor);
        std::cerr << "usage: ldap_bench condition|pair|branch [ROUNDS] | first | formload | rss | cpu\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "ldap_bench: " << e.what() << "\n";
        return 1;
    }
}
