// Condition lookup and account listing through the Unix backend, against what an administrator
// would type for the same answers (getent passwd NAME; chage -l NAME; getent passwd).
// Usage: quill_unix_bench ACCOUNT [LOOKUPS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "directory/adsi_control.h"
#include "directory/unix/unix_service.h"

namespace {

using Clock = std::chrono::steady_clock;

class SilentOperator final : public quill::Operator {
public:
    int messageBox(const std::string&, int, const std::optional<std::string>&) override {
        return quill::msgbox::kAnswerYes;
    }
    void setBusy(bool) override {}
    void reportEscapedError(long, const std::string&) override {}
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a command with its output discarded; returns its exit status.
int spawn(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ACCOUNT [LOOKUPS]\n", argv[0]);
        return 2;
    }
    const std::string account = argv[1];
    const int lookups = argc > 2 ? std::atoi(argv[2]) : 200;
    const int toolRuns = 50;

    unixacct::UnixService service;
    SilentOperator person;

    // Condition lookup: a fresh ADSIControl and bind each time, as the window does per keystroke.
    std::string condition;
    auto start = Clock::now();
    for (int i = 0; i < lookups; ++i) {
        directory::ADSIControl control(service, person);
        control.setTargetDomainServer("localhost");
        condition = control.Descriptioner(account);
    }
    const double lookup = secondsSince(start) / lookups;
    if (condition.empty()) {
        std::fprintf(stderr, "lookup of %s failed\n", account.c_str());
        return 1;
    }

    start = Clock::now();
    for (int i = 0; i < toolRuns; ++i)
        if (spawn({"getent", "passwd", account}) != 0 || spawn({"chage", "-l", account}) != 0) {
            std::fprintf(stderr, "getent/chage failed\n");
            return 1;
        }
    const double reference = secondsSince(start) / toolRuns;

    // Listing: what the window's account list does at start.
    const int listings = 20;
    std::size_t listed = 0;
    start = Clock::now();
    for (int i = 0; i < listings; ++i) {
        std::vector<std::string> names;
        auto container = directory::as<directory::Container>(service.bind("WinNT://localhost"));
        container->put("Filter", directory::Value::array({directory::Value::text("User")}));
        container->enumerate([&](directory::Object& o) { names.push_back(directory::as<directory::User>(o).name()); });
        listed = names.size();
    }
    const double listing = secondsSince(start) / listings;

    start = Clock::now();
    for (int i = 0; i < toolRuns; ++i)
        spawn({"getent", "passwd"});
    const double listingReference = secondsSince(start) / toolRuns;

    std::printf("condition of %s: \"%s\"\n", account.c_str(), condition.c_str());
    std::printf("lookup:  %.3f ms per lookup (target <= 1 ms); getent passwd + chage -l: %.3f ms; ratio %.3f\n",
                lookup * 1e3, reference * 1e3, lookup / reference);
    std::printf("listing: %.3f ms for %zu accounts (target <= 50 ms); getent passwd: %.3f ms; ratio %.3f\n",
                listing * 1e3, listed, listingReference * 1e3, listing / listingReference);
    return (lookup <= 1e-3 && listing <= 50e-3) ? 0 : 3;
}
