#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "directory/date_text.h"
#include "directory/unix/faillock.h"
#include "directory/unix/helper_admin.h"
#include "directory/unix/local_admin.h"
#include "directory/unix/unix_context.h"
#include "directory/unix/unix_service.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "tz_guard.h"

// Every operation with the real shadow tools and pam_faillock, on the sandbox's private /etc.

namespace {

using directory::Value;
namespace codes = directory::codes;

// Each test runs twice: the root steps in this process, and through the helper program started
// over pipes the way pkexec starts it (PKEXEC_UID set, a fresh environment otherwise inherited).
enum class Side { InProcess, Helper };

class RealTools : public testing::TestWithParam<Side> {
protected:
    void SetUp() override {
        REQUIRE_SANDBOX();
        std::shared_ptr<unixacct::AccountAdmin> admin;
        if (GetParam() == Side::Helper)
            admin = std::make_shared<unixacct::HelperAdmin>(std::vector<std::string>{QUILL_TEST_HELPER},
                                                            std::vector<std::string>{"PKEXEC_UID=1000"});
        else
            admin = std::make_shared<unixacct::LocalAdmin>();
        service = std::make_unique<unixacct::UnixService>(unixacct::AccountSources{}, nullptr,
                                                          std::function<bool(std::string_view)>{}, admin);
    }

    std::unique_ptr<directory::User> user(const std::string& name) {
        return directory::as<directory::User>(service->bind("WinNT://localhost/" + name + ",User"));
    }
    std::unique_ptr<directory::Group> group(const std::string& name) {
        return directory::as<directory::Group>(service->bind("WinNT://localhost/" + name + ",Group"));
    }
    static std::string shadow(const std::string& name, int field) {
        const auto f = sandbox::fields("/etc/shadow", name);
        return f.size() > static_cast<std::size_t>(field) ? f[field] : "<missing>";
    }
    static long errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const directory::Error& e) {
            return e.number();
        }
        return 0;
    }

    std::unique_ptr<unixacct::UnixService> service;
};

TEST_P(RealTools, DisableThenEnableRestoresTheHash) {
    const std::string name = sandbox::createUser("disable");
    const std::string hash = shadow(name, 1);
    ASSERT_EQ(hash.substr(0, 1), "$");
    EXPECT_FALSE(user(name)->accountDisabled());

    auto u = user(name);
    u->setAccountDisabled(true);
    EXPECT_EQ(shadow(name, 1), hash); // pending until setInfo
    u->setInfo();
    EXPECT_EQ(shadow(name, 1), "!" + hash);
    EXPECT_EQ(shadow(name, 7), "1");
    EXPECT_TRUE(user(name)->accountDisabled());

    u = user(name);
    u->setAccountDisabled(false);
    u->setInfo();
    EXPECT_EQ(shadow(name, 1), hash);
    EXPECT_EQ(shadow(name, 7), "");
    EXPECT_FALSE(user(name)->accountDisabled());
}

TEST_P(RealTools, EitherMarkReadsAsDisabledAndEnablingClearsBoth) {
    const std::string lockedOnly = sandbox::createUser("lockonly");
    ASSERT_EQ(sandbox::run({"/usr/sbin/usermod", "-L", lockedOnly}), 0);
    const std::string expiredOnly = sandbox::createUser("expiredonly");
    ASSERT_EQ(sandbox::run({"/usr/sbin/usermod", "-e", "1", expiredOnly}), 0);
    const std::string noPassword = sandbox::createUser("nopassword", {}, false);
    ASSERT_EQ(shadow(noPassword, 1), "!");
    const std::string doubleLocked = sandbox::createUser("doublelock");
    const std::string hash = shadow(doubleLocked, 1);
    ASSERT_EQ(sandbox::run({"/usr/sbin/usermod", "-p", "!!" + hash, doubleLocked}), 0);

    for (const std::string& name : {lockedOnly, expiredOnly, noPassword, doubleLocked}) {
        EXPECT_TRUE(user(name)->accountDisabled()) << name;
        auto u = user(name);
        u->setAccountDisabled(false);
        u->setInfo();
        EXPECT_FALSE(user(name)->accountDisabled()) << name;
        EXPECT_EQ(shadow(name, 7), "") << name;
    }
    // Nothing to unlock behind the "!": no typeable password, but no lock either.
    EXPECT_EQ(shadow(noPassword, 1), "*");
    EXPECT_EQ(shadow(doubleLocked, 1), hash);
}

TEST_P(RealTools, DescriptionIsTheGecosField) {
    const std::string name = sandbox::createUser("descr", "old text");
    EXPECT_EQ(user(name)->description(), "old text");
    auto u = user(name);
    u->put("Description", Value::text("営業部 第二課, 内線 12"));
    EXPECT_EQ(u->description(), "営業部 第二課, 内線 12"); // the pending value reads back
    EXPECT_EQ(sandbox::fields("/etc/passwd", name)[4], "old text");
    u->setInfo();
    EXPECT_EQ(sandbox::fields("/etc/passwd", name)[4], "営業部 第二課, 内線 12");

    const std::string before = sandbox::slurp("/etc/passwd");
    for (const char* bad : {"x:0:0:root", "two\nlines"}) {
        auto refused = user(name);
        refused->setDescription(bad);
        EXPECT_EQ(errorOf([&] { refused->setInfo(); }), codes::kBadParameter);
    }
    EXPECT_EQ(sandbox::slurp("/etc/passwd"), before);

    u = user(name);
    u->setDescription("");
    u->setInfo();
    EXPECT_EQ(user(name)->description(), "");
}

TEST_P(RealTools, PasswordResetAndMustChange) {
    const std::string name = sandbox::createUser("passwd");
    const std::string oldHash = shadow(name, 1);
    auto u = user(name);
    u->setPassword(directory::Secret(" New pass:word 1 "));
    EXPECT_EQ(shadow(name, 1), oldHash); // lands with the commit, together with must-change
    u->put("PasswordExpired", Value::int16(1));
    u->setInfo();
    EXPECT_NE(shadow(name, 1), oldHash);
    EXPECT_EQ(shadow(name, 1).substr(0, 3), oldHash.substr(0, 3)); // the method chpasswd chose
    EXPECT_EQ(shadow(name, 2), "0");
    // PAM takes the new password (and then asks for a change); the old one is gone.
    EXPECT_NE(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Initial-Pw1\n"), 0);
    EXPECT_EQ(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, " New pass:word 1 \n"),
              0);

    u = user(name);
    u->setPassword(directory::Secret("Plain-Reset-2"));
    u->setInfo(); // no must-change asked: the change day is today
    EXPECT_EQ(shadow(name, 2), std::to_string(sandbox::todayDays()));

    const std::string before = sandbox::slurp("/etc/shadow");
    EXPECT_EQ(errorOf([&] { u->setPassword(directory::Secret("pw\nroot:x")); }), codes::kPasswordPolicy);
    EXPECT_EQ(sandbox::slurp("/etc/shadow"), before);
}

TEST_P(RealTools, ResetKeepsAPasswordLockedAccountDisabled) {
    struct Row {
        const char* name;
        std::vector<std::string> lockCommand; // the account name is appended
    };
    const Row rows[] = {
        {"passwd -l", {"/usr/bin/passwd", "-l"}},
        {"usermod -L", {"/usr/sbin/usermod", "-L"}},
    };
    for (const Row& row : rows) {
        const std::string name = sandbox::createUser("resetlocked");
        std::vector<std::string> lock = row.lockCommand;
        lock.push_back(name);
        ASSERT_EQ(sandbox::run(lock), 0) << row.name;
        ASSERT_TRUE(user(name)->accountDisabled()) << row.name;
        auto u = user(name);
        u->setPassword(directory::Secret("Fresh-Pw-3"));
        u->put("PasswordExpired", Value::int16(1));
        u->setInfo();
        EXPECT_EQ(shadow(name, 1).substr(0, 2), "!$") << row.name;
        EXPECT_EQ(shadow(name, 2), "0") << row.name;
        EXPECT_TRUE(user(name)->accountDisabled()) << row.name;
        EXPECT_NE(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Fresh-Pw-3\n"), 0)
            << row.name << ": a disabled account took a password";
        // Enabling later gives the account the new password.
        u = user(name);
        u->setAccountDisabled(false);
        u->setInfo();
        EXPECT_EQ(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Fresh-Pw-3\n"), 0)
            << row.name;
    }
}

TEST_P(RealTools, FaillockArgumentsOnThePamLineOverrideTheConfFile) {
    const std::string name = sandbox::createUser("pamargs");
    const std::string pamDir = sandbox::faillockDir() + "-pam";
    std::filesystem::create_directories(pamDir);
    const std::string commonAuth = "/etc/pam.d/common-auth";
    const std::string saved = sandbox::slurp(commonAuth);
    struct Restore {
        std::string path, text;
        ~Restore() { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; }
    } restore{commonAuth, saved};
    std::ofstream(commonAuth, std::ios::binary | std::ios::app)
        << "auth [default=die] pam_faillock.so authfail dir=" << pamDir << " deny=2 unlock_time=900\n";
    // Two fresh failures: a lockout at deny=2 from the PAM line, none at the conf file's deny=3.
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    const std::string tally = pamDir + "/" + name;
    std::ofstream(tally, std::ios::binary) << unixacct::encodeTally(
        {{"tty1", unixacct::kTallyStatusValid, now - 20}, {"tty1", unixacct::kTallyStatusValid, now - 10}});
    ::chmod(tally.c_str(), 0600);

    EXPECT_TRUE(user(name)->isAccountLocked());
    auto u = user(name);
    u->setIsAccountLocked(false);
    u->setInfo();
    EXPECT_EQ(std::filesystem::file_size(tally), 0u);
    EXPECT_FALSE(user(name)->isAccountLocked());
}

TEST_P(RealTools, ExpiryDateAcrossDaylightSavingChanges) {
    const testutil::TzGuard tz("Europe/Berlin");
    const std::string name = sandbox::createUser("expiry");
    struct Row {
        Value value;
        std::string field;
    };
    const Row rows[] = {
        {Value::text("2026/3/29"), std::to_string(directory::daysFromCivil({2026, 3, 30}))},
        {Value::text("2026/10/25"), std::to_string(directory::daysFromCivil({2026, 10, 26}))},
        {Value::text("２０２７年１月２５日"), std::to_string(directory::daysFromCivil({2027, 1, 26}))},
        {Value::int32(1), ""},
    };
    for (const Row& row : rows) {
        auto u = user(name);
        u->put("AccountExpirationDate", row.value);
        u->setInfo();
        EXPECT_EQ(shadow(name, 7), row.field) << row.value.describe();
    }
    const std::string before = sandbox::slurp("/etc/shadow");
    EXPECT_EQ(errorOf([&] { user(name)->put("AccountExpirationDate", Value::text("2026/2/30")); }),
              codes::kBadParameter);
    EXPECT_EQ(sandbox::slurp("/etc/shadow"), before);
}

TEST_P(RealTools, FaillockTallyAtDenyLocksAndUnlockClearsIt) {
    const std::string name = sandbox::createUser("faillock");
    const std::string tally = sandbox::faillockDir() + "/" + name;
    sandbox::failLogins(name, 2);
    ASSERT_TRUE(std::filesystem::exists(tally));
    EXPECT_FALSE(user(name)->isAccountLocked());
    sandbox::failLogins(name, 1);
    EXPECT_TRUE(user(name)->isAccountLocked());
    EXPECT_NE(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Initial-Pw1\n"), 0)
        << "pam_faillock should refuse even the right password now";

    auto u = user(name);
    u->setIsAccountLocked(false);
    EXPECT_TRUE(user(name)->isAccountLocked()); // pending until setInfo
    u->setInfo();
    EXPECT_FALSE(user(name)->isAccountLocked());
    EXPECT_EQ(std::filesystem::file_size(tally), 0u);
    EXPECT_EQ(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Initial-Pw1\n"), 0);
}

TEST_P(RealTools, GroupMembershipInGroupAndGshadow) {
    const std::string name = sandbox::createUser("member");
    const std::string memberPath = user(name)->adsPath();
    EXPECT_EQ(memberPath, "WinNT://localhost/" + name + ",User");
    auto members = [] { return sandbox::fields("/etc/group", "users").at(3); };
    auto shadowMembers = [] { return sandbox::fields("/etc/gshadow", "users").at(3); };

    group("users")->add(memberPath);
    EXPECT_NE(("," + members() + ",").find("," + name + ","), std::string::npos);
    EXPECT_NE(("," + shadowMembers() + ",").find("," + name + ","), std::string::npos);
    EXPECT_EQ(sandbox::run({"/usr/sbin/grpck", "-r"}), 0);
    std::vector<std::string> groups;
    user(name)->groups([&](directory::Group& g) { groups.push_back(g.name()); });
    EXPECT_EQ(groups, (std::vector<std::string>{name, "users"}));
    EXPECT_EQ(errorOf([&] { group("users")->add(memberPath); }), codes::kMemberInGroup);

    group("users")->remove(memberPath);
    EXPECT_EQ(("," + members() + ",").find("," + name + ","), std::string::npos);
    EXPECT_EQ(("," + shadowMembers() + ",").find("," + name + ","), std::string::npos);
    EXPECT_EQ(errorOf([&] { group("users")->remove(memberPath); }), codes::kMemberNotInGroup);
}

TEST_P(RealTools, ContainerListsAccountsInFileOrder) {
    const std::string first = sandbox::createUser("listfirst");
    const std::string second = sandbox::createUser("listsecond");
    auto container = directory::as<directory::Container>(service->bind("WinNT://localhost"));
    container->put("Filter", Value::array({Value::text("User")}));
    std::vector<std::string> names;
    container->enumerate([&](directory::Object& o) { names.push_back(directory::as<directory::User>(o).name()); });
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "root");
    EXPECT_EQ(names[names.size() - 2], first);
    EXPECT_EQ(names.back(), second);
}

// Runs body as nobody in a child process; returns what it wrote.
std::string asNobody(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            out = "could not drop privileges";
        else
            out = body();
        [[maybe_unused]] const ssize_t n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST_P(RealTools, WithoutRootReadsWorkAndEveryWriteFailsChangingNothing) {
    const std::string name = sandbox::createUser("nonroot", "visible to all");
    sandbox::failLogins(name, 3);
    const std::vector<std::string> files{"/etc/passwd", "/etc/shadow", "/etc/group", "/etc/gshadow",
                                         sandbox::faillockDir() + "/" + name};
    std::vector<std::string> before;
    for (const auto& f : files)
        before.push_back(sandbox::slurp(f));

    const Side side = GetParam();
    // A copy of the helper that nobody may run, wherever the build tree is.
    const testutil::TempDir helperDir;
    const std::string helperPath = helperDir.path() + "/quillmarsh-local-accounts";
    std::filesystem::copy_file(QUILL_TEST_HELPER, helperPath);
    std::filesystem::permissions(helperDir.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(helperPath, std::filesystem::perms(0755));
    const std::string report = asNobody([&] {
        // Not root: the files refuse this process, and the helper refuses a caller that is not root.
        std::shared_ptr<unixacct::AccountAdmin> admin;
        if (side == Side::Helper)
            admin = std::make_shared<unixacct::HelperAdmin>(std::vector<std::string>{helperPath});
        else
            admin = std::make_shared<unixacct::LocalAdmin>();
        unixacct::UnixService nobodyService({}, nullptr, {}, admin);
        std::string out;
        auto attempt = [&](const char* what, const std::function<void()>& action) {
            long number = 0;
            try {
                action();
            } catch (const directory::Error& e) {
                number = e.number();
            }
            out +=
                std::string(what) + "=" + (number == codes::kAccessDenied ? "denied" : std::to_string(number)) + "\n";
        };
        auto bound = [&] {
            return directory::as<directory::User>(nobodyService.bind("WinNT://localhost/" + name + ",User"));
        };
        out += "description=" + bound()->description() + "\n";
        std::size_t listed = 0;
        auto container = directory::as<directory::Container>(nobodyService.bind("WinNT://localhost"));
        container->enumerate([&](directory::Object&) { ++listed; });
        out += std::string("listed=") + (listed > 1 ? "yes" : "no") + "\n";
        attempt("readDisabled", [&] { bound()->accountDisabled(); });
        attempt("readLocked", [&] { bound()->isAccountLocked(); });
        attempt("disable", [&] {
            auto u = bound();
            u->setAccountDisabled(true);
            u->setInfo();
        });
        attempt("enable", [&] {
            auto u = bound();
            u->setAccountDisabled(false);
            u->setInfo();
        });
        attempt("describe", [&] {
            auto u = bound();
            u->setDescription("changed");
            u->setInfo();
        });
        attempt("unlock", [&] {
            auto u = bound();
            u->setIsAccountLocked(false);
            u->setInfo();
        });
        attempt("expire", [&] {
            auto u = bound();
            u->put("PasswordExpired", Value::int16(1));
            u->setInfo();
        });
        attempt("expiry", [&] {
            auto u = bound();
            u->put("AccountExpirationDate", Value::int32(1));
            u->setInfo();
        });
        attempt("password", [&] {
            auto u = bound();
            u->setPassword(directory::Secret("Another-Pw2"));
            u->setInfo();
        });
        attempt("groupAdd", [&] {
            directory::as<directory::Group>(nobodyService.bind("WinNT://localhost/users,Group"))
                ->add("WinNT://localhost/" + name + ",User");
        });
        return out;
    });
    EXPECT_EQ(report, "description=visible to all\nlisted=yes\nreadDisabled=denied\nreadLocked=denied\n"
                      "disable=denied\nenable=denied\ndescribe=denied\nunlock=denied\nexpire=denied\n"
                      "expiry=denied\npassword=denied\ngroupAdd=denied\n");
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(sandbox::slurp(files[i]), before[i]) << files[i];
}

// The lock shadow-utils takes, held by a live program: the commit waits, gives up and changes
// nothing; the new password never lands without its must-change mark.
TEST(RealToolsInProcess, ResetIsWholeWhileAnotherProgramHoldsTheShadowLock) {
    REQUIRE_SANDBOX();
    unixacct::UnixService service({}, nullptr, {},
                                  std::make_shared<unixacct::LocalAdmin>(unixacct::AccountSources{}, nullptr, 1));
    const std::string name = sandbox::createUser("heldlock");
    const auto before = sandbox::fields("/etc/shadow", name);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ofstream("/etc/shadow.lock") << holder;
    auto u = directory::as<directory::User>(service.bind("WinNT://localhost/" + name + ",User"));
    u->setPassword(directory::Secret("Never-Lands-4"));
    u->put("PasswordExpired", Value::int16(1));
    std::string description;
    try {
        u->setInfo();
    } catch (const directory::Error& e) {
        description = e.description();
    }
    EXPECT_EQ(sandbox::fields("/etc/shadow", name), before);
    EXPECT_EQ(description, "/etc/shadow を他のプログラムが使用中です。しばらく待ってから、もう一度実行してください。");

    // Once the holder is gone its lock is stale and the same commit goes through.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    u->setInfo();
    EXPECT_EQ(sandbox::fields("/etc/shadow", name).at(2), "0");
    EXPECT_FALSE(std::filesystem::exists("/etc/shadow.lock"));
}

// A real second writer (chage, which takes the same locks) changes another field of the same
// line while this program toggles the account: neither write may undo the other.
TEST(RealToolsInProcess, ConcurrentShadowWritersLoseNoUpdate) {
    REQUIRE_SANDBOX();
    unixacct::UnixService service;
    const std::string name = sandbox::createUser("concurrent");
    const std::string hash = sandbox::fields("/etc/shadow", name).at(1);
    constexpr int kRounds = 25;
    const pid_t writer = ::fork();
    if (writer == 0) {
        int failures = 0;
        for (int i = 1; i <= kRounds; ++i)
            failures += sandbox::run({"/usr/bin/chage", "-m", std::to_string(i), name}) != 0;
        ::_exit(failures);
    }
    for (int i = 0; i < kRounds; ++i) {
        auto u = directory::as<directory::User>(service.bind("WinNT://localhost/" + name + ",User"));
        u->setAccountDisabled(i % 2 == 1);
        u->setInfo();
    }
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto f = sandbox::fields("/etc/shadow", name);
    EXPECT_EQ(f.at(3), std::to_string(kRounds)); // the other writer's last value
    EXPECT_EQ(f.at(1), hash);                    // the last toggle enabled the account
    EXPECT_EQ(f.at(7), "");
}

TEST(ToolRunner, ATimeLimitKillsTheToolAndEverythingItStarted) {
    testutil::TempDir dir;
    const std::string pidFile = dir.path() + "/child.pid";
    unixacct::SpawnToolRunner runner(1);
    const auto result = runner.run({"/bin/sh", "-c", "sleep 300 & echo $! > " + pidFile + "; wait"}, {});
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 128 + SIGKILL);
    // On a loaded machine the shell may be killed before it started its child: nothing to check then.
    if (const std::string written = sandbox::slurp(pidFile); !written.empty()) {
        const pid_t grandchild = std::stoi(written);
        // Gone, or a zombie waiting for its new parent to reap it: either way no longer running.
        const std::string stat = sandbox::slurp("/proc/" + std::to_string(grandchild) + "/stat");
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
    }

    try {
        unixacct::runTool(runner, {"/bin/sleep", "5"});
        ADD_FAILURE() << "a killed tool was reported as success";
    } catch (const directory::Error& e) {
        EXPECT_EQ(e.number(), codes::kTimeout);
        EXPECT_EQ(e.description(),
                  "sleep が 1 秒以内に終わらなかったため、止めました。少し待ってから、もう一度実行してください。");
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, RealTools, testing::Values(Side::InProcess, Side::Helper),
                         [](const testing::TestParamInfo<Side>& info) {
                             return info.param == Side::Helper ? "Helper" : "InProcess";
                         });

} // namespace
