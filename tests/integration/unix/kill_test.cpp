#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "directory/date_text.h"
#include "directory/unix/account_files.h"
#include "directory/unix/faillock.h"
#include "directory/unix/local_admin.h"
#include "directory/unix/password_hash.h"
#include "directory/unix/unix_service.h"
#include "sandbox.h"
#include "temp_dir.h"

// Each write flow, run in a child process that is killed with SIGKILL at a random moment (or its
// faillock is), with the real account files of the sandbox. Afterwards the files are sound, no
// lock blocks, the account is wholly in a state the flow allows, and the flow then succeeds.

extern char** environ;

namespace {

using directory::Value;

constexpr int kRunsPerFlow = 25; // 8 flows: 200 kills in all

struct Flow {
    const char* name;
    bool userIsGroupMember = false;
    // Puts the account in the state the flow starts from.
    std::function<void(const std::string& user)> prepare;
    // The flow as the window runs it, through the directory interface.
    std::function<void(directory::Service&, const std::string& user)> run;
    // "old", "new", "mid" (between the two commits of a two-commit flow) or a description of what is wrong.
    std::function<std::string(const std::string& user)> state;
    bool midAllowed = false;
    bool runsFaillock = false;
};

std::unique_ptr<directory::User> bindUser(directory::Service& s, const std::string& name) {
    return directory::as<directory::User>(s.bind("WinNT://localhost/" + name + ",User"));
}

std::vector<std::string> shadowOf(const std::string& user) {
    return sandbox::fields("/etc/shadow", user);
}

void commit(const unixacct::UserChange& change) {
    unixacct::LocalAdmin().commit(change);
}

bool listedIn(const std::string& file, const std::string& group, const std::string& user) {
    const auto f = sandbox::fields(file, group);
    return f.size() == 4 && ("," + f[3] + ",").find("," + user + ",") != std::string::npos;
}

// Whatever pwck and grpck say beyond missing home directories is damage.
std::string checkerComplaints(const std::string& scratch) {
    std::string complaints;
    for (const char* checker : {"/usr/sbin/pwck", "/usr/sbin/grpck"}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        char* argv[] = {const_cast<char*>(checker), const_cast<char*>("-r"), nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, checker, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return std::string("cannot run ") + checker;
        int status = 0;
        ::waitpid(pid, &status, 0);
        static const std::regex harmless("user '[^']*': directory '[^']*' does not exist|pwck: no changes|");
        std::istringstream lines(sandbox::slurp(scratch));
        std::string line;
        while (std::getline(lines, line))
            if (!std::regex_match(line, harmless))
                complaints += std::string(checker) + ": " + line + "\n";
        const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (exit != 0 && !(exit == 2 && std::string(checker).find("pwck") != std::string::npos))
            complaints += std::string(checker) + " exit " + std::to_string(exit) + "\n";
    }
    return complaints;
}

// A lock file whose holder still runs would block the next writer.
std::string liveLocks() {
    std::string live;
    for (const char* file : {"/etc/passwd.lock", "/etc/shadow.lock", "/etc/group.lock", "/etc/gshadow.lock"}) {
        if (!std::filesystem::exists(file))
            continue;
        const std::string holder = sandbox::slurp(file);
        const pid_t pid = holder.empty() ? 0 : static_cast<pid_t>(std::atol(holder.c_str()));
        if (pid > 0 && ::kill(pid, 0) == 0) {
            const std::string stat = sandbox::slurp("/proc/" + std::to_string(pid) + "/stat");
            if (stat.find(") Z ") == std::string::npos)
                live += std::string(file) + " held by running process " + holder + "\n";
        }
    }
    return live;
}

std::size_t lineCount(const std::string& path) {
    const std::string text = sandbox::slurp(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The faillock a flow's child started, if one runs now.
pid_t faillockChildOf(pid_t parent) {
    std::istringstream children(
        sandbox::slurp("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children"));
    pid_t child = 0;
    while (children >> child)
        if (sandbox::slurp("/proc/" + std::to_string(child) + "/comm").rfind("faillock", 0) == 0)
            return child;
    return 0;
}

std::vector<Flow> flows() {
    const std::string tallyDir = sandbox::faillockDir();
    const long dateDay = directory::daysFromCivil({2031, 5, 7}); // 2031/5/6 in UTC, usable through that day
    std::vector<Flow> all;
    all.push_back({"unlock", false,
                   [tallyDir](const std::string& u) {
                       const auto now = static_cast<std::uint64_t>(std::time(nullptr));
                       std::ofstream(tallyDir + "/" + u, std::ios::binary | std::ios::trunc)
                           << unixacct::encodeTally({{"tty1", unixacct::kTallyStatusValid, now - 3},
                                                     {"tty1", unixacct::kTallyStatusValid, now - 2},
                                                     {"tty1", unixacct::kTallyStatusValid, now - 1}});
                   },
                   [](directory::Service& s, const std::string& u) {
                       auto user = bindUser(s, u);
                       user->setIsAccountLocked(false);
                       user->setInfo();
                   },
                   [tallyDir](const std::string& u) -> std::string {
                       const auto size = std::filesystem::file_size(tallyDir + "/" + u);
                       return size == 3 * unixacct::kTallyRecordSize ? "old"
                              : size == 0                            ? "new"
                                                                     : "tally of " + std::to_string(size) + " bytes";
                   },
                   false, true});
    // The hash the reset starts from, kept so the state needs no slow hashing to tell old from new.
    auto oldHash = std::make_shared<std::string>();
    all.push_back({"reset", false,
                   [oldHash](const std::string& u) {
                       unixacct::UserChange c;
                       c.user = u;
                       c.password.emplace("Old-Pw-1");
                       commit(c);
                       *oldHash = shadowOf(u).at(1);
                   },
                   [](directory::Service& s, const std::string& u) {
                       auto user = bindUser(s, u);
                       user->setIsAccountLocked(false);
                       user->setInfo();
                       user = bindUser(s, u);
                       user->setPassword(directory::Secret("New-Pw-2"));
                       user->put("PasswordExpired", Value::int16(1));
                       user->setInfo();
                   },
                   [oldHash](const std::string& u) -> std::string {
                       const auto f = shadowOf(u);
                       if (f.at(1) == *oldHash && f.at(2) != "0")
                           return "old";
                       const bool newPw = f.at(1) != *oldHash && unixacct::passwordMatches("New-Pw-2", f.at(1));
                       if (newPw && f.at(2) == "0")
                           return "new";
                       return "password " +
                              std::string(newPw                 ? "new"
                                          : f.at(1) == *oldHash ? "old"
                                                                : "neither") +
                              ", last change " + f.at(2);
                   }});
    auto disabledState = [](const std::string& u, const std::string& enabledExpiry) -> std::string {
        const auto f = shadowOf(u);
        const bool locked = f.at(1).front() == '!';
        if (locked && f.at(7) == "1")
            return "disabled";
        if (!locked && f.at(7) == enabledExpiry)
            return "enabled";
        if (!locked && f.at(7).empty())
            return "enabled without expiry";
        return "hash " + std::string(locked ? "locked" : "open") + ", expiry " + f.at(7);
    };
    auto makeDisabled = [](const std::string& u) {
        unixacct::UserChange c;
        c.user = u;
        c.disabled = true;
        commit(c);
    };
    auto makeEnabled = [](const std::string& u) {
        unixacct::UserChange c;
        c.user = u;
        c.disabled = false;
        c.expiryDay = -1;
        commit(c);
    };
    auto enableFlow = [](Value limit) {
        return [limit](directory::Service& s, const std::string& u) {
            auto user = bindUser(s, u);
            user->setAccountDisabled(false);
            user->setInfo();
            auto object = s.bind("WinNT://localhost/" + u);
            object->put("AccountExpirationDate", limit);
            object->setInfo();
        };
    };
    all.push_back(
        {"enable until a date", false, makeDisabled, enableFlow(Value::text("2031/5/6")),
         [=](const std::string& u) {
             const std::string s = disabledState(u, std::to_string(dateDay));
             return s == "disabled" ? "old" : s == "enabled" ? "new" : s == "enabled without expiry" ? "mid" : s;
         },
         true});
    all.push_back({"enable without limit", false, makeDisabled, enableFlow(Value::int32(1)), [=](const std::string& u) {
                       const std::string s = disabledState(u, "");
                       return s == "disabled" ? "old" : s == "enabled" ? "new" : s;
                   }});
    all.push_back({"disable", false, makeEnabled,
                   [](directory::Service& s, const std::string& u) {
                       auto user = bindUser(s, u);
                       user->setAccountDisabled(true);
                       user->setInfo();
                   },
                   [=](const std::string& u) {
                       const std::string s = disabledState(u, "");
                       return s == "disabled" ? "new" : s == "enabled" ? "old" : s;
                   }});
    all.push_back({"description", false,
                   [](const std::string& u) {
                       unixacct::UserChange c;
                       c.user = u;
                       c.description = "old text";
                       commit(c);
                   },
                   [](directory::Service& s, const std::string& u) {
                       auto user = bindUser(s, u);
                       user->setDescription("新しい説明, 内線 7");
                       user->setInfo();
                   },
                   [](const std::string& u) -> std::string {
                       const std::string gecos = sandbox::fields("/etc/passwd", u).at(4);
                       return gecos == "old text" ? "old" : gecos == "新しい説明, 内線 7" ? "new" : "gecos " + gecos;
                   }});
    auto membership = [](bool addFlow) {
        return [addFlow](const std::string& u) -> std::string {
            const bool inGroup = listedIn("/etc/group", "users", u);
            const bool inShadow = listedIn("/etc/gshadow", "users", u);
            if (inGroup != inShadow)
                return std::string("member in ") + (inGroup ? "group" : "gshadow") + " only";
            return inGroup == addFlow ? "new" : "old";
        };
    };
    auto setMember = [](bool member) {
        return [member](const std::string& u) {
            if (listedIn("/etc/group", "users", u) != member)
                unixacct::LocalAdmin().changeMembership("users", u, member);
        };
    };
    all.push_back({"group add", false, setMember(false),
                   [](directory::Service& s, const std::string& u) {
                       directory::as<directory::Group>(s.bind("WinNT://localhost/users,Group"))
                           ->add("WinNT://localhost/" + u + ",User");
                   },
                   membership(true)});
    all.push_back({"group remove", true, setMember(true),
                   [](directory::Service& s, const std::string& u) {
                       directory::as<directory::Group>(s.bind("WinNT://localhost/users,Group"))
                           ->remove("WinNT://localhost/" + u + ",User");
                   },
                   membership(false)});
    return all;
}

// Runs the flow in a child; returns its wall time and whether it succeeded.
std::pair<std::chrono::microseconds, bool> runInChild(const Flow& flow, const std::string& user) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        unixacct::UnixService service;
        try {
            flow.run(service, user);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start),
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

TEST(KillHalfway, EveryWriteFlowIsWholeAfterASigkillAndTheNextRunSucceeds) {
    REQUIRE_SANDBOX();
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); // what a killed flow leaves running comes back here
    const char* files[] = {"/etc/passwd", "/etc/shadow", "/etc/group", "/etc/gshadow"};
    int kills = 0, toolKills = 0, finishedFirst = 0;
    const testutil::TempDir scratch;
    for (const Flow& flow : flows()) {
        const std::string user = sandbox::createUser("kill");
        flow.prepare(user);
        const auto flowStart = std::chrono::steady_clock::now();
        const auto [duration, calibrated] = runInChild(flow, user);
        std::cout << flow.name << ": one run " << duration.count() / 1000 << " ms\n";
        ASSERT_TRUE(calibrated) << flow.name << ": the flow fails even without a kill";
        for (int i = 0; i < kRunsPerFlow; ++i) {
            SCOPED_TRACE(std::string(flow.name) + ", run " + std::to_string(i));
            flow.prepare(user);
            ASSERT_EQ(flow.state(user), "old");
            std::vector<std::size_t> lines;
            for (const char* f : files)
                lines.push_back(lineCount(f));

            const pid_t pid = ::fork();
            if (pid == 0) {
                unixacct::UnixService service;
                try {
                    flow.run(service, user);
                } catch (...) {
                }
                ::_exit(0);
            }
            const auto delay = std::uniform_int_distribution<long long>(0, duration.count())(random);
            const bool killTool = flow.runsFaillock && i % 2 == 1;
            if (killTool) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(delay + 200000);
                pid_t tool = 0;
                while (!(tool = faillockChildOf(pid)) && std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
                if (tool) {
                    std::this_thread::sleep_for(std::chrono::microseconds(delay % 3000));
                    ::kill(tool, SIGKILL);
                    ++toolKills;
                }
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                ::kill(pid, SIGKILL);
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            while (::waitpid(-1, nullptr, 0) > 0) { // its renaming child finishes before anything is checked
            }
            ++kills;
            if (WIFEXITED(status))
                ++finishedFirst;

            EXPECT_EQ(checkerComplaints(scratch.path() + "/checker.out"), "");
            EXPECT_EQ(liveLocks(), "");
            for (std::size_t f = 0; f < std::size(files); ++f) {
                EXPECT_EQ(lineCount(files[f]), lines[f]) << files[f] << " is not whole";
                // The backup is some earlier whole file: root's line first, a newline last.
                const std::string backup = sandbox::slurp(std::string(files[f]) + "-");
                if (!backup.empty()) {
                    EXPECT_TRUE(backup.rfind("root:", 0) == 0 && backup.back() == '\n') << files[f] << "- is not whole";
                }
            }
            const std::string state = flow.state(user);
            EXPECT_TRUE(state == "old" || state == "new" || (flow.midAllowed && state == "mid")) << state;

            // Nothing left behind blocks the next run, from the flow's starting state.
            try {
                flow.prepare(user);
                unixacct::UnixService service;
                flow.run(service, user);
            } catch (const directory::Error& e) {
                ADD_FAILURE() << "the next run failed: " << e.description();
            }
            EXPECT_EQ(flow.state(user), "new");
            if (HasFailure())
                return;
        }
        std::cout << flow.name << ": " << kRunsPerFlow << " kills in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - flowStart)
                         .count()
                  << " ms\n";
    }
    EXPECT_EQ(kills, 8 * kRunsPerFlow);
    RecordProperty("kills", kills);
    RecordProperty("tool_kills", toolKills);
    RecordProperty("finished_before_the_kill", finishedFirst);
    std::cout << "kills " << kills << ", of them faillock " << toolKills << ", finished before the kill "
              << finishedFirst << "\n";
}

} // namespace
