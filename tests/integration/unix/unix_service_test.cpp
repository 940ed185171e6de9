#include <gtest/gtest.h>

#include <ctime>

#include <fstream>

#include "directory/unix/account_files.h"
#include "directory/unix/faillock.h"
#include "directory/unix/password_hash.h"
#include "directory/unix/unix_service.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "tz_guard.h"

// The Unix backend against fixture files, with a runner that records the tools it would start.
// These run anywhere; the real tools run in real_tools_test.cpp.

namespace {

using directory::Value;
namespace codes = directory::codes;
using Argv = std::vector<std::string>;

class RecordingRunner final : public unixacct::ToolRunner {
public:
    std::vector<Argv> runs;
    std::vector<std::string> inputs;
    unixacct::ToolResult next;

    unixacct::ToolResult run(const Argv& argv, std::string_view input) override {
        Argv shortArgv = argv;
        shortArgv[0] = shortArgv[0].substr(shortArgv[0].rfind('/') + 1);
        runs.push_back(shortArgv);
        inputs.emplace_back(input);
        return next;
    }
};

class Fixture : public testing::Test {
protected:
    Fixture() {
        const auto now = static_cast<std::uint64_t>(std::time(nullptr));
        const std::string tallyDir = dir.path() + "/tally";
        std::filesystem::create_directory(tallyDir);
        dir.write("tally/alice", unixacct::encodeTally({{"tty1", unixacct::kTallyStatusValid, now - 30},
                                                        {"tty1", unixacct::kTallyStatusValid, now - 20},
                                                        {"tty1", unixacct::kTallyStatusValid, now - 10}}));
        dir.write("tally/dave", unixacct::encodeTally({{"tty1", unixacct::kTallyStatusValid, now - 10}}));
        sources.passwdPath = dir.write("passwd", "root:x:0:0:root:/root:/bin/bash\n"
                                                 "alice:x:1001:1001:営業部:/home/alice:/bin/bash\n"
                                                 "bob:x:1002:1002::/home/bob:/bin/bash\n"
                                                 "carol:x:1003:100:Carol,,,:/home/carol:/bin/sh\n"
                                                 "dave:x:1004:100:  spaced  :/home/dave:/bin/sh\n"
                                                 "erin:!:1005:100:no shadow line:/home/erin:/bin/sh\n");
        sources.shadowPath = dir.write("shadow", "root:*:20000:0:99999:7:::\n"
                                                 "alice:$y$j9T$abc:20000:0:99999:7:::\n"
                                                 "bob:!$y$j9T$abc:20000:0:99999:7:::\n"
                                                 "carol:!:20000:0:99999:7::1:\n"
                                                 "dave:$y$j9T$abc:20000:0:99999:7::1:\n");
        sources.groupPath = dir.write("group", "root:x:0:\n"
                                               "users:x:100:bob\n"
                                               "alice:x:1001:\n"
                                               "bob:x:1002:\n"
                                               "staff:x:2000:alice,bob\n");
        sources.faillockConfPath = dir.write("faillock.conf", "dir = " + tallyDir + "\ndeny = 3\n");
        sources.pamAuthPaths = {};
    }

    unixacct::UnixService& service() {
        if (!m_service)
            m_service = std::make_unique<unixacct::UnixService>(
                sources, runner, [](std::string_view host) { return host == "PC01." || host == "PC01"; });
        return *m_service;
    }
    std::unique_ptr<directory::User> user(const std::string& name) {
        return directory::as<directory::User>(service().bind("WinNT://PC01./" + name + ",User"));
    }
    long errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const directory::Error& e) {
            return e.number();
        }
        return 0;
    }

    static std::string sandboxLine(const std::string& file, const std::string& name) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(name + ":", 0) == 0)
                return line;
        return {};
    }
    static std::vector<std::string> splitLine(const std::string& line) { return unixacct::splitFields(line); }

    testutil::TempDir dir;
    unixacct::AccountSources sources;
    std::shared_ptr<RecordingRunner> runner = std::make_shared<RecordingRunner>();

private:
    std::unique_ptr<unixacct::UnixService> m_service;
};

TEST_F(Fixture, ReadsTheConditionOfEachAccount) {
    struct Row {
        const char* name;
        std::string description;
        bool disabled, locked;
    };
    const Row rows[] = {
        {"alice", "営業部", false, true},       // three fresh failures at deny 3
        {"bob", "", true, false},               // locked password
        {"carol", "Carol,,,", true, false},     // "!" and expiry day 1
        {"dave", "  spaced  ", true, false},    // expiry day 1 alone; one failure is no lockout
        {"erin", "no shadow line", true, false} // the hash in passwd is locked
    };
    for (const Row& row : rows) {
        auto u = user(row.name);
        EXPECT_EQ(u->description(), row.description) << row.name;
        EXPECT_EQ(u->accountDisabled(), row.disabled) << row.name;
        EXPECT_EQ(u->isAccountLocked(), row.locked) << row.name;
        EXPECT_EQ(u->name(), row.name);
        EXPECT_EQ(u->adsPath(), "WinNT://PC01./" + std::string(row.name) + ",User");
    }
    EXPECT_TRUE(runner->runs.empty()); // reads never start a process
}

TEST_F(Fixture, BindRefusesWhatIsNotALocalAccountBeforeAnyToolRuns) {
    struct Row {
        std::string path;
        long error;
    };
    const Row rows[] = {
        {"WinNT://PC01./nobody-here,User", codes::kNoSuchUser},
        {"WinNT://PC01./nobody-here,Group", codes::kNoSuchGroup},
        {"WinNT://PC01./nobody-here", codes::kUnknownObject},
        {"WinNT://PC01./alice,Computer", codes::kUnknownObject},
        {"WinNT://PC01./-alice,User", codes::kBadPathName},
        {"WinNT://PC01./al:ice,User", codes::kBadPathName},
        {"WinNT://PC01./al\nice,User", codes::kBadPathName},
        {"WinNT://PC01./al\xffice,User", codes::kBadPathName},
        {"WinNT://PC01./" + std::string(33, 'a') + ",User", codes::kBadPathName},
        {"WinNT://PC01./a,b,User", codes::kBadPathName},
        {"WinNT://PC01./,User", codes::kBadPathName},
        {"WinNT://PC01./-G,Group", codes::kBadPathName},
        {"WinNT://OTHERHOST/alice,User", codes::kNotFound},
        {"LDAP://PC01./alice", codes::kBadPathName},
    };
    for (const Row& row : rows)
        EXPECT_EQ(errorOf([&] { service().bind(row.path); }), row.error) << testing::PrintToString(row.path);
    EXPECT_TRUE(runner->runs.empty());
}

TEST_F(Fixture, ClasslessPathFindsUserThenGroup) {
    EXPECT_NE(dynamic_cast<directory::User*>(service().bind("WinNT://PC01./alice").get()), nullptr);
    EXPECT_NE(dynamic_cast<directory::Group*>(service().bind("WinNT://PC01./staff").get()), nullptr);
    EXPECT_EQ(service().bind("WinNT://PC01/staff")->adsPath(), "WinNT://PC01/staff,Group");
}

TEST_F(Fixture, ContainerListsUsersInFileOrder) {
    auto container = directory::as<directory::Container>(service().bind("WinNT://PC01."));
    EXPECT_EQ(container->name(), "PC01.");
    auto names = [&] {
        std::vector<std::string> seen;
        container->enumerate([&](directory::Object& o) { seen.push_back(o.name()); });
        return seen;
    };
    container->put("Filter", Value::array({Value::text("User")}));
    std::vector<std::string> users{"root", "alice", "bob", "carol", "dave", "erin"};
    EXPECT_EQ(names(), users);
    container->enumerate([](directory::Object& o) { directory::as<directory::User>(o); });
    container->put("Filter", Value::array({Value::text("group")}));
    EXPECT_EQ(names(), (std::vector<std::string>{"root", "users", "alice", "bob", "staff"}));
    container->put("Filter", Value::array({Value::text("Computer")}));
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(errorOf([&] { container->put("Name", Value::text("x")); }), codes::kPropertyNotSupported);
    EXPECT_EQ(errorOf([&] { container->put("Filter", Value::text("User")); }), static_cast<long>(0x80020005L));
}

TEST_F(Fixture, GroupsArePrimaryFirstThenFileOrder) {
    std::vector<std::string> groups;
    user("alice")->groups(
        [&](directory::Group& g) { groups.push_back(g.name() + "|" + g.description() + "|" + g.adsPath()); });
    EXPECT_EQ(groups,
              (std::vector<std::string>{"alice||WinNT://PC01./alice,Group", "staff||WinNT://PC01./staff,Group"}));
    groups.clear();
    user("bob")->groups([&](directory::Group& g) { groups.push_back(g.name()); });
    EXPECT_EQ(groups, (std::vector<std::string>{"bob", "users", "staff"}));
}

TEST_F(Fixture, WritesWaitForSetInfoAndLandInTheFiles) {
    const testutil::TzGuard tz("Europe/Berlin");
    auto shadowLine = [&](const std::string& name) { return sandboxLine(sources.shadowPath, name); };
    struct Row {
        const char* name;
        std::string account;
        std::function<void(directory::User&)> change;
        std::string shadow; // the account's shadow line afterwards
    };
    const Row rows[] = {
        {"disable", "alice", [](auto& u) { u.setAccountDisabled(true); }, "alice:!$y$j9T$abc:20000:0:99999:7::1:"},
        {"disable again adds no second mark", "alice", [](auto& u) { u.setAccountDisabled(true); },
         "alice:!$y$j9T$abc:20000:0:99999:7::1:"},
        {"enable", "alice", [](auto& u) { u.setAccountDisabled(false); }, "alice:$y$j9T$abc:20000:0:99999:7:::"},
        {"enable a locked hash", "bob", [](auto& u) { u.setAccountDisabled(false); },
         "bob:$y$j9T$abc:20000:0:99999:7:::"},
        {"enable an empty locked password", "carol", [](auto& u) { u.put("AccountDisabled", Value::boolean(false)); },
         "carol:*:20000:0:99999:7:::"},
        {"enable an expired-day-1 account", "dave", [](auto& u) { u.setAccountDisabled(false); },
         "dave:$y$j9T$abc:20000:0:99999:7:::"},
        {"expire password and date", "alice",
         [](auto& u) {
             u.put("PasswordExpired", Value::int16(1));
             u.put("AccountExpirationDate", Value::text("2026/3/29"));
         },
         "alice:$y$j9T$abc:0:0:99999:7::20542:"},
        {"no time limit", "alice", [](auto& u) { u.put("AccountExpirationDate", Value::int32(1)); },
         "alice:$y$j9T$abc:0:0:99999:7:::"},
        {"nothing pending", "alice", [](auto&) {}, "alice:$y$j9T$abc:0:0:99999:7:::"},
    };
    for (const Row& row : rows) {
        const std::string before = shadowLine(row.account);
        auto u = user(row.account);
        row.change(*u);
        EXPECT_EQ(shadowLine(row.account), before) << row.name << ": written before setInfo";
        u->setInfo();
        EXPECT_EQ(shadowLine(row.account), row.shadow) << row.name;
    }
    EXPECT_TRUE(runner->runs.empty());
    EXPECT_FALSE(std::filesystem::exists(sources.shadowPath + "+"));
    EXPECT_FALSE(std::filesystem::exists(sources.shadowPath + ".lock"));

    auto u = user("alice");
    u->put("description", Value::text("-総務部, 2F"));
    u->setInfo();
    EXPECT_EQ(sandboxLine(sources.passwdPath, "alice"), "alice:x:1001:1001:-総務部, 2F:/home/alice:/bin/bash");
}

TEST_F(Fixture, ResetIsOneWriteAndKeepsADisabledAccountDisabled) {
    struct Row {
        const char* name;
        std::string account;
        bool mustChange;
        std::string hashPrefix; // what stands before the new hash
        bool disabled;
    };
    const Row rows[] = {
        {"enabled, must change", "alice", true, "", false},
        {"password lock alone stays", "bob", true, "!", true},
        {"lock and expiry stay", "carol", false, "!", true},
        {"expiry alone stays", "dave", true, "", true},
    };
    for (const Row& row : rows) {
        const std::string before = sandboxLine(sources.shadowPath, row.account);
        auto u = user(row.account);
        u->setPassword(directory::Secret(" p a:ss%word "));
        if (row.mustChange)
            u->put("PasswordExpired", Value::int16(1));
        EXPECT_EQ(sandboxLine(sources.shadowPath, row.account), before) << row.name;
        u->setInfo();
        const auto f = splitLine(sandboxLine(sources.shadowPath, row.account));
        ASSERT_EQ(f.size(), 9u) << row.name;
        EXPECT_EQ(f[1].substr(0, row.hashPrefix.size() + 1), row.hashPrefix + "$") << row.name;
        EXPECT_TRUE(unixacct::passwordMatches(" p a:ss%word ", f[1].substr(row.hashPrefix.size()))) << row.name;
        EXPECT_EQ(f[2], row.mustChange ? "0" : std::to_string(std::time(nullptr) / 86400)) << row.name;
        EXPECT_EQ(user(row.account)->accountDisabled(), row.disabled) << row.name;
    }
    EXPECT_TRUE(runner->runs.empty());
}

TEST_F(Fixture, RefusedWritesRunNothing) {
    struct Row {
        const char* name;
        std::function<void(directory::User&)> change;
        long error;
    };
    const Row rows[] = {
        {"colon in description",
         [](auto& u) {
             u.setDescription("a:b");
             u.setInfo();
         },
         codes::kBadParameter},
        {"newline in description",
         [](auto& u) {
             u.setAccountDisabled(true);
             u.setDescription("a\nb");
             u.setInfo();
         },
         codes::kBadParameter},
        {"no date", [](auto& u) { u.put("AccountExpirationDate", Value::text("abc")); }, codes::kBadParameter},
        {"empty date", [](auto& u) { u.put("AccountExpirationDate", Value::text("")); }, codes::kBadParameter},
        {"other integer", [](auto& u) { u.put("AccountExpirationDate", Value::int32(0)); }, codes::kBadParameter},
        {"PasswordExpired 0", [](auto& u) { u.put("PasswordExpired", Value::int16(0)); }, codes::kBadParameter},
        {"lock on purpose", [](auto& u) { u.setIsAccountLocked(true); }, codes::kBadParameter},
        {"unknown property", [](auto& u) { u.put("HomeDirectory", Value::text("/tmp")); },
         codes::kPropertyNotSupported},
        {"empty password", [](auto& u) { u.setPassword(directory::Secret("")); }, codes::kPasswordPolicy},
        {"second line in password", [](auto& u) { u.setPassword(directory::Secret("pw\nroot:pw")); },
         codes::kPasswordPolicy},
    };
    for (const Row& row : rows) {
        auto u = user("alice");
        EXPECT_EQ(errorOf([&] { row.change(*u); }), row.error) << row.name;
    }
    EXPECT_TRUE(runner->runs.empty());
    EXPECT_EQ(sandboxLine(sources.shadowPath, "alice"), "alice:$y$j9T$abc:20000:0:99999:7:::");
}

TEST_F(Fixture, UnlockSucceedsOnlyWhenTheTallyNoLongerLocks) {
    auto u = user("alice");
    u->setIsAccountLocked(false);
    // faillock "succeeded" but the tally still holds three fresh failures.
    EXPECT_EQ(errorOf([&] { u->setInfo(); }), codes::kFail);
    EXPECT_EQ(runner->runs,
              (std::vector<Argv>{{"faillock", "--dir", dir.path() + "/tally", "--user", "alice", "--reset"}}));
    runner->runs.clear();
    auto notLocked = user("bob");
    notLocked->setIsAccountLocked(false);
    notLocked->setInfo(); // no tally: nothing to clear, and nothing locks
    EXPECT_TRUE(runner->runs.empty());
}

TEST_F(Fixture, ToolFailureBecomesAnErrorWithItsFirstLine) {
    runner->next = {1, "faillock: Error opening the tally file for alice"};
    auto u = user("alice");
    u->setIsAccountLocked(false);
    try {
        u->setInfo();
        FAIL() << "a failed tool was reported as success";
    } catch (const directory::Error& e) {
        EXPECT_EQ(e.description(),
                  "faillock が失敗しました（終了コード 1）: faillock: Error opening the tally file for alice。");
    }
}

TEST_F(Fixture, GroupMembershipChecksThenWritesBothGroupFiles) {
    sources.gshadowPath = dir.write("gshadow", "root:*::\nusers:!::bob\nalice:!::\nbob:!::\nstaff:!:bob:alice,bob\n");
    auto group = [&](const std::string& name) {
        return directory::as<directory::Group>(service().bind("WinNT://PC01./" + name + ",Group"));
    };
    struct Row {
        const char* name;
        std::string group, member;
        bool add;
        long error;
        std::vector<std::string> members; // the group's member field in group and in gshadow afterwards
    };
    const Row rows[] = {
        {"add", "users", "WinNT://PC01./alice,User", true, 0, {"bob,alice", "bob,alice"}},
        {"add, class-less member", "staff", "WinNT://PC01/carol", true, 0, {"alice,bob,carol", "alice,bob,carol"}},
        {"already listed", "staff", "WinNT://PC01./alice,User", true, codes::kMemberInGroup, {}},
        {"primary group", "alice", "WinNT://PC01./alice,User", true, codes::kMemberInGroup, {}},
        {"remove", "users", "WinNT://PC01./bob,User", false, 0, {"alice", "alice"}},
        {"remove a non-member", "users", "WinNT://PC01./root,User", false, codes::kMemberNotInGroup, {}},
        {"remove from primary", "bob", "WinNT://PC01./bob,User", false, codes::kMemberNotInGroup, {}},
        {"unknown member", "users", "WinNT://PC01./zed,User", true, codes::kNoSuchUser, {}},
        {"member of another host", "users", "WinNT://CORP/alice,User", true, codes::kBadParameter, {}},
        {"group as member", "users", "WinNT://PC01./staff,Group", true, codes::kBadParameter, {}},
        {"option as member", "users", "WinNT://PC01./-r,User", true, codes::kBadPathName, {}},
        {"no path", "users", "alice", true, codes::kBadPathName, {}},
    };
    for (const Row& row : rows) {
        const std::string before = sandbox::slurp(sources.groupPath) + sandbox::slurp(sources.gshadowPath);
        auto g = group(row.group);
        EXPECT_EQ(errorOf([&] { row.add ? g->add(row.member) : g->remove(row.member); }), row.error) << row.name;
        if (row.members.empty()) {
            EXPECT_EQ(sandbox::slurp(sources.groupPath) + sandbox::slurp(sources.gshadowPath), before) << row.name;
            continue;
        }
        EXPECT_EQ(splitLine(sandboxLine(sources.groupPath, row.group)).at(3), row.members[0]) << row.name;
        EXPECT_EQ(splitLine(sandboxLine(sources.gshadowPath, row.group)).at(3), row.members[1]) << row.name;
    }
    EXPECT_TRUE(runner->runs.empty());
    EXPECT_EQ(errorOf([&] { group("users")->put("Description", Value::text("x")); }), codes::kPropertyNotSupported);
}

TEST_F(Fixture, UnreadableFilesAreErrorsNotEmptyAnswers) {
    sources.shadowPath = dir.path() + "/no-shadow";
    EXPECT_EQ(errorOf([&] { user("alice")->accountDisabled(); }), codes::kFail);
    sources.passwdPath = dir.path() + "/no-passwd";
    unixacct::UnixService noPasswd(sources, runner);
    EXPECT_EQ(errorOf([&] { noPasswd.bind("WinNT://PC01./alice,User"); }), codes::kFail);
}

} // namespace

namespace {

TEST(LocalAccounts, FindsTheFirstWellFormedLineOfExactlyThatName) {
    testutil::TempDir dir;
    unixacct::AccountSources sources;
    sources.passwdPath = dir.write("passwd", "bob:x:1:1:first line:/:/bin/sh\n"
                                             "bobby:x:2:2:longer name:/:/bin/sh\n"
                                             "carol:x:notanumber:3:malformed:/:/bin/sh\n"
                                             "carol:x:3:3:second carol:/:/bin/sh\n"
                                             "xbob:x:4:4:suffix:/:/bin/sh\n"
                                             "dave:x:5:5:first dave:/:/bin/sh\n"
                                             "dave:x:6:6:second dave:/:/bin/sh\n"
                                             "+\n"
                                             "+nis:x:8:8:NIS compat:/:/bin/sh\n"
                                             "-carol:x:9:9:NIS compat:/:/bin/sh\n"
                                             "+@admins::::::\n"
                                             "last:x:7:7:no newline at the end:/:/bin/sh");
    sources.groupPath = dir.write("group", "+\n+@admins:::\n-staff:x:10:\nstaff:x:50:bob\n");
    sources.shadowPath = dir.write("shadow", "+::::::::\n+nis:*:1::::::\n");
    const unixacct::LocalAccounts accounts(sources);
    struct Row {
        const char* name;
        std::optional<std::string> gecos;
    };
    const Row rows[] = {
        {"bob", "first line"},
        {"bobby", "longer name"},
        {"carol", "second carol"},
        {"dave", "first dave"},
        {"last", "no newline at the end"},
        {"bo", std::nullopt},
        {"ob", std::nullopt},
        {"xbo", std::nullopt},
        {"+", std::nullopt},
        {"+nis", std::nullopt},
        {"-carol", std::nullopt},
        {"+@admins", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto found = accounts.findUser(row.name);
        EXPECT_EQ(found ? std::optional<std::string>(found->gecos) : std::nullopt, row.gecos) << row.name;
    }
    int users = 0;
    accounts.forEachUser([&](const unixacct::PasswdEntry&) { return ++users < 100; });
    EXPECT_EQ(users, 7); // the malformed line is skipped, as the C library always has; so are NIS lines
    EXPECT_FALSE(accounts.findGroup("bob"));
    std::vector<std::string> groups;
    accounts.forEachGroup([&](const unixacct::GroupEntry& g) {
        groups.push_back(g.name);
        return true;
    });
    EXPECT_EQ(groups, std::vector<std::string>{"staff"});
    EXPECT_FALSE(accounts.findGroup("-staff"));
    EXPECT_FALSE(accounts.findGroup(10));
    EXPECT_FALSE(accounts.findShadow("+"));
    EXPECT_FALSE(accounts.findShadow("+nis"));
}

} // namespace
