#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ad_fixture.h"
#include "directory/ldap/ad_values.h"
#include "directory/ldap/connection_cache.h"
#include "directory/object_path.h"

using directory::Secret;
using directory::Value;
namespace codes = directory::codes;
namespace mb = quill::msgbox;

namespace {

long errorNumber(const std::function<void()>& action, std::string* description = nullptr) {
    try {
        action();
    } catch (const directory::Error& error) {
        if (description)
            *description = error.description();
        return error.number();
    }
    return 0;
}

const std::string kNoTicket = "Kerberos のチケットがないか、期限が切れています。kinit を実行してください。";

std::unique_ptr<directory::User> bindUser(directory::Service& service, const std::string& account) {
    return directory::as<directory::User>(service.bind(directory::userPath(kDomain, account)));
}

TEST_F(AdTest, ConditionTextsComeFromTheDirectory) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"jdoe", "テスト 利用者 有効"},
        {"stopped", "停止中 無効"},
        {"trail", "末尾   有効"}, // trailing spaces of the description kept
        {"nosuch", ""},
    };
    auto adsi = control();
    for (const auto& [account, expected] : rows)
        EXPECT_EQ(adsi.Descriptioner(account), expected) << account;
    EXPECT_EQ(op.busyDepth, 0);
}

TEST_F(AdTest, EveryFormOfTargetReachesTheDomain) {
    for (const std::string target : {"QUILL", "quill", "quill.test", "QUILL.TEST.", "dc1.quill.test", "dc1"})
        EXPECT_EQ(control(target).Descriptioner("jdoe"), "テスト 利用者 有効") << target;
    EXPECT_EQ(control("nosuch.test").Descriptioner("jdoe"), "");
    EXPECT_EQ(control("NOSUCH").Descriptioner("jdoe"), "");
    EXPECT_NE(errorNumber([&] { service.bind("WinNT://nosuch.test/jdoe,User"); }), 0);
}

TEST_F(AdTest, UnknownAccountsAndClassesAreBindErrors) {
    EXPECT_EQ(errorNumber([&] { service.bind(directory::userPath(kDomain, "nosuch")); }), codes::kNoSuchUser);
    EXPECT_EQ(errorNumber([&] { service.bind(directory::groupPath(kDomain, "nosuch")); }), codes::kNoSuchGroup);
    // A user is no group, and a group no user.
    EXPECT_EQ(errorNumber([&] { service.bind(directory::groupPath(kDomain, "jdoe")); }), codes::kNoSuchGroup);
    EXPECT_EQ(errorNumber([&] { service.bind(directory::userPath(kDomain, "Staff")); }), codes::kNoSuchUser);
    // A filter metacharacter in a name matches nothing rather than everything.
    EXPECT_EQ(errorNumber([&] { service.bind(directory::userPath(kDomain, "*")); }), codes::kNoSuchUser);
    EXPECT_EQ(errorNumber([&] { service.bind("WinNT://QUILL/PC01/jdoe"); }), codes::kBadPathName);
    // Class-less paths find either kind.
    EXPECT_NO_THROW(directory::as<directory::User>(service.bind("WinNT://QUILL/jdoe")));
    EXPECT_NO_THROW(directory::as<directory::Group>(service.bind("WinNT://QUILL/Staff")));
}

TEST_F(AdTest, DescriptionsAreShortJapaneseTexts) {
    auto user = bindUser(service, "jdoe");
    auto staff = directory::as<directory::Group>(service.bind(directory::groupPath(kDomain, "Staff")));
    const std::vector<std::pair<std::function<void()>, std::string>> rows{
        {[&] { service.bind(directory::userPath(kDomain, "nosuch")); }, "ユーザー nosuch は QUILL にありません。"},
        {[&] { service.bind(directory::groupPath(kDomain, "nosuch")); }, "グループ nosuch は QUILL にありません。"},
        {[&] { service.bind("LDAP://QUILL/jdoe"); }, "パス LDAP://QUILL/jdoe は正しくありません。"},
        {[&] { service.bind("WinNT://QUILL/PC01/jdoe"); },
         "コンピューター単位のアカウントは LDAP では扱えません: WinNT://QUILL/PC01/jdoe"},
        {[&] { service.bind("WinNT://nosuch.test/jdoe"); }, "ドメインコントローラー nosuch.test に接続できません。"},
        {[&] { user->put("FavouriteColour", Value::text("blue")); },
         "ユーザーのプロパティ FavouriteColour は扱えません。"},
        {[&] { user->put("AccountExpirationDate", Value::text("abc")); }, "「abc」は日付ではありません。"},
        {[&] { user->setIsAccountLocked(true); }, "アカウントのロックは解除のみできます。"},
        {[&] { staff->add("WinNT://QUILL/jdoe"); }, "WinNT://QUILL/jdoe は既にグループ Staff のメンバーです。"},
        {[&] { staff->remove("WinNT://QUILL/bob"); }, "WinNT://QUILL/bob はグループ Staff のメンバーではありません。"},
    };
    for (const auto& [action, expected] : rows) {
        std::string description;
        EXPECT_NE(errorNumber(action, &description), 0) << expected;
        EXPECT_EQ(description, expected);
    }
}

TEST_F(AdTest, DisableAndEnableFlipOnlyTheDisableBit) {
    auto adsi = control();
    EXPECT_EQ(dc.number("expiring", "userAccountControl"), 512);
    EXPECT_TRUE(adsi.AccountDisabled("expiring")); // omitted flag disables
    EXPECT_EQ(dc.number("expiring", "userAccountControl"), 514);
    EXPECT_EQ(adsi.Descriptioner("expiring"), "期限試験 無効");
    EXPECT_TRUE(adsi.AccountDisabled("expiring", true)); // again: an ordinary success
    EXPECT_TRUE(adsi.AccountDisabled("expiring", false));
    EXPECT_EQ(dc.number("expiring", "userAccountControl"), 512);
    EXPECT_FALSE(adsi.AccountDisabled("nosuch", false));
    EXPECT_EQ(op.busyDepth, 0);
}

TEST_F(AdTest, AChangeMadeMeanwhileIsNotOverwritten) {
    auto first = bindUser(service, "expiring");
    auto second = bindUser(service, "expiring");
    second->setAccountDisabled(true);
    second->setInfo();
    first->setAccountDisabled(false);
    first->setDescription("上書き");
    EXPECT_NE(errorNumber([&] { first->setInfo(); }), 0);
    EXPECT_EQ(dc.number("expiring", "userAccountControl"), 514);
    EXPECT_EQ(dc.first("expiring", "description"), "期限試験"); // the request failed as a whole
    EXPECT_TRUE(control().AccountDisabled("expiring", false));
    EXPECT_EQ(dc.number("expiring", "userAccountControl"), 512);
}

TEST_F(AdTest, AccountLockedByFailedLogonsShowsAndIsUnlocked) {
    const std::string scratch = "FILE:" + dc.state() + "/cc.scratch";
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_NE(dc.kinit("locky", "wrong-password", scratch), 0);
    ASSERT_NE(dc.number("locky", "msDS-User-Account-Control-Computed") & 0x10, 0);
    EXPECT_NE(dc.number("locky", "lockoutTime"), 0);
    std::string out;
    EXPECT_NE(dc.kinit("locky", dc.password("locky"), scratch, &out), 0) << "locked out, so refused";

    auto adsi = control();
    EXPECT_EQ(adsi.Descriptioner("locky"), "ロック試験 有効 ロック");
    EXPECT_TRUE(adsi.AccountLCOpen("locky"));
    EXPECT_EQ(dc.number("locky", "lockoutTime"), 0);
    EXPECT_EQ(dc.number("locky", "msDS-User-Account-Control-Computed") & 0x10, 0);
    EXPECT_EQ(adsi.Descriptioner("locky"), "ロック試験 有効");
    EXPECT_EQ(dc.kinit("locky", dc.password("locky"), scratch, &out), 0) << out;
    EXPECT_TRUE(adsi.AccountLCOpen("locky")); // not locked: still a success
}

TEST_F(AdTest, PasswordResetMakesTheUserChangeItAtNextLogon) {
    const std::string scratch = "FILE:" + dc.state() + "/cc.scratch";
    const std::string fresh = "Nw-" + std::to_string(::getpid()) + "-k7Q";
    op.answers = {mb::kAnswerYes};
    EXPECT_TRUE(control().PasswordReset("resetme", Secret(fresh)));
    EXPECT_EQ(dc.number("resetme", "pwdLastSet"), 0);
    std::string out;
    EXPECT_NE(dc.kinit("resetme", dc.password("resetme"), scratch, &out), 0) << "the old password is gone";
    EXPECT_NE(dc.kinit("resetme", fresh, scratch, &out), 0);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(out.find("expired"), std::string::npos) << out;

    // A blank password sets none but still forces the change; No binds nothing.
    op.answers = {mb::kAnswerYes, mb::kAnswerNo};
    EXPECT_TRUE(control().PasswordReset("expiring", Secret("   ")));
    EXPECT_EQ(dc.number("expiring", "pwdLastSet"), 0);
    EXPECT_FALSE(control().PasswordReset("expiring", Secret("Unused-123x")));
}

TEST_F(AdTest, APasswordThePolicyRefusesChangesNothingAtAll) {
    const auto before = dc.first("refused", "pwdLastSet");
    ASSERT_NE(before, "0");
    auto user = bindUser(service, "refused");
    user->setPassword(Secret("zq1"));
    user->put("PasswordExpired", Value::int16(1));
    std::string description;
    EXPECT_EQ(errorNumber([&] { user->setInfo(); }, &description), codes::kPasswordPolicy);
    EXPECT_EQ(description, "パスワードがパスワードポリシーを満たしていません。 (LDAP 19 / 0000052D)");
    op.answers = {mb::kAnswerYes};
    EXPECT_FALSE(control().PasswordReset("refused", Secret("zq1")));
    // The must-change flag travelled with the refused password, so neither landed.
    EXPECT_EQ(dc.first("refused", "pwdLastSet"), before);
    std::string out;
    EXPECT_EQ(dc.kinit("refused", dc.password("refused"), "FILE:" + dc.state() + "/cc.scratch", &out), 0) << out;
}

// With DONT_EXPIRE_PASSWORD the controller takes pwdLastSet 0 and ignores it: refused untouched.
TEST_F(AdTest, AResetOfAPasswordThatNeverExpiresChangesNothing) {
    const auto setFlags = [](int flags) {
        const std::string ldif = "dn: CN=trail,CN=Users,DC=quill,DC=test\nchangetype: modify\n"
                                 "replace: userAccountControl\nuserAccountControl: " +
                                 std::to_string(flags) + "\n";
        std::string out;
        return runCommand("ldapmodify -Q -N -Y GSSAPI -H ldap://dc1.quill.test", &out, &ldif) == 0;
    };
    ASSERT_TRUE(setFlags(512 | ldapdir::kDontExpirePassword));
    const auto before = dc.first("trail", "pwdLastSet");
    op.answers = {mb::kAnswerYes};
    EXPECT_FALSE(control().PasswordReset("trail", Secret("Other-Pass-123x")));
    EXPECT_EQ(dc.first("trail", "pwdLastSet"), before);
    std::string out;
    EXPECT_EQ(dc.kinit("trail", dc.password("trail"), "FILE:" + dc.state() + "/cc.scratch", &out), 0) << out;
    EXPECT_TRUE(setFlags(512));
}

TEST_F(AdTest, APasswordWithoutSetInfoChangesNothing) {
    const auto before = dc.first("refused", "pwdLastSet");
    bindUser(service, "refused")->setPassword(Secret("Never-Sent-123x"));
    EXPECT_EQ(dc.first("refused", "pwdLastSet"), before);
    std::string out;
    EXPECT_EQ(dc.kinit("refused", dc.password("refused"), "FILE:" + dc.state() + "/cc.scratch", &out), 0) << out;
}

TEST_F(AdTest, DescriptionIsWrittenAndCleared) {
    auto adsi = control();
    EXPECT_TRUE(adsi.ChangeChineseCharacter("member1", "経理部 第二課"));
    EXPECT_EQ(dc.first("member1", "description"), "経理部 第二課");
    EXPECT_TRUE(adsi.ChangeChineseCharacter("member1", "経理部 第二課"));
    EXPECT_TRUE(adsi.ChangeChineseCharacter("member1", ""));
    EXPECT_EQ(dc.first("member1", "description"), std::nullopt);
    EXPECT_EQ(adsi.Descriptioner("member1"), " 有効");
    EXPECT_FALSE(adsi.ChangeChineseCharacter("nosuch", "x"));
}

TEST_F(AdTest, GroupsAreThePrimaryGroupAndMemberOf) {
    auto adsi = control();
    ASSERT_TRUE(adsi.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(adsi.groupList(), "Domain Users/*s*/All domain users\r\nStaff/*s*/Staff members");
    ASSERT_TRUE(adsi.acGroubalGroupGet("bob"));
    EXPECT_EQ(adsi.acGGpCount(), 0);
    EXPECT_EQ(adsi.acGGpName(0, "Name"), "Domain Users");
    EXPECT_FALSE(adsi.acGroubalGroupGet("nosuch"));
}

TEST_F(AdTest, MembershipIsAddedAndRemovedAtOnce) {
    auto adsi = control();
    const std::string staff = "CN=Staff,CN=Users,DC=quill,DC=test";
    auto memberOf = [&] { return dc.attribute("member1", "memberOf"); };
    EXPECT_TRUE(adsi.AddGlobalGroup("member1", "Staff"));
    EXPECT_EQ(memberOf(), std::vector<std::string>{staff});
    EXPECT_FALSE(adsi.AddGlobalGroup("member1", "Staff"));
    EXPECT_TRUE(adsi.DelGlobalGroup("member1", "Staff"));
    EXPECT_TRUE(memberOf().empty());
    EXPECT_FALSE(adsi.DelGlobalGroup("member1", "Staff"));
    EXPECT_FALSE(adsi.AddGlobalGroup("member1", "NoSuchGroup"));
    EXPECT_FALSE(adsi.AddGlobalGroup("nosuch", "Staff"));

    // The member is given as the user's own path, in any form of the domain's name.
    auto group = directory::as<directory::Group>(service.bind(directory::groupPath("quill.test", "NoDesc")));
    EXPECT_EQ(group->description(), "");
    group->add("WinNT://QUILL/member1");
    EXPECT_EQ(memberOf(), std::vector<std::string>{"CN=NoDesc,CN=Users,DC=quill,DC=test"});
    EXPECT_EQ(errorNumber([&] { group->add("WinNT://quill.test/member1"); }), codes::kMemberInGroup);
    group->remove(bindUser(service, "member1")->adsPath());
    EXPECT_EQ(errorNumber([&] { group->remove("WinNT://QUILL/member1"); }), codes::kMemberNotInGroup);
    EXPECT_TRUE(memberOf().empty());
}

TEST_F(AdTest, PropertyWritesByName) {
    auto user = directory::as<directory::User>(service.bind(directory::userPathWithoutClass(kDomain, "expiring")));
    user->put("AccountExpirationDate", Value::text("2030/1/15"));
    user->setInfo();
    const std::int64_t written = dc.number("expiring", "accountExpires");
    EXPECT_EQ(written, ldapdir::accountExpiresAfter({2030, 1, 15}));
    EXPECT_EQ(ldapdir::lastUsableDay(written), (directory::CivilDate{2030, 1, 15}));

    user->put("AccountExpirationDate", Value::int32(1));
    user->setInfo();
    EXPECT_EQ(dc.number("expiring", "accountExpires"), ldapdir::kNeverExpires);

    EXPECT_EQ(errorNumber([&] { user->put("AccountExpirationDate", Value::text("abc")); }), codes::kBadParameter);
    EXPECT_EQ(errorNumber([&] { user->put("FavouriteColour", Value::text("blue")); }), codes::kPropertyNotSupported);
    EXPECT_EQ(errorNumber([&] { user->setIsAccountLocked(true); }), codes::kBadParameter);

    // Several writes travel in one request and all land.
    user->put("Description", Value::text("一括"));
    user->put("PasswordExpired", Value::int16(1));
    user->put("AccountExpirationDate", Value::text("2031/12/31"));
    user->setInfo();
    EXPECT_EQ(dc.first("expiring", "description"), "一括");
    EXPECT_EQ(dc.number("expiring", "pwdLastSet"), 0);
    EXPECT_EQ(dc.number("expiring", "accountExpires"), ldapdir::accountExpiresAfter({2031, 12, 31}));
    user->put("Description", Value::text("期限試験"));
    user->setInfo();
}

TEST_F(AdTest, TheDomainListsItsUsersInPages) {
    auto domain = directory::as<directory::Container>(service.bind("WinNT://QUILL"));
    EXPECT_EQ(domain->name(), "QUILL");
    domain->put("Filter", Value::array({Value::text("User")}));
    std::vector<std::string> names;
    domain->enumerate([&](directory::Object& item) { names.push_back(directory::as<directory::User>(item).name()); });
    auto expected = dc.userNames();
    std::sort(expected.begin(), expected.end());
    auto sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Staff"), 0);

    // A listed user answers reads like a bound one.
    bool checked = false;
    domain->enumerate([&](directory::Object& item) {
        auto& user = directory::as<directory::User>(item);
        if (user.name() == "stopped") {
            EXPECT_TRUE(user.accountDisabled());
            EXPECT_EQ(user.description(), "停止中");
            checked = true;
        }
    });
    EXPECT_TRUE(checked);

    domain->put("Filter", Value::array({Value::text("Group")}));
    std::vector<std::string> groups;
    domain->enumerate([&](directory::Object& item) { groups.push_back(directory::as<directory::Group>(item).name()); });
    EXPECT_EQ(std::count(groups.begin(), groups.end(), "Staff"), 1);
    EXPECT_EQ(std::count(groups.begin(), groups.end(), "jdoe"), 0);
    EXPECT_EQ(errorNumber([&] { domain->put("Name", Value::text("x")); }), codes::kPropertyNotSupported);
}

TEST_F(AdTest, AnOrdinaryUsersTicketChangesNothing) {
    const auto snapshot = [&] {
        std::vector<std::vector<std::string>> values;
        for (const char* name :
             {"userAccountControl", "description", "memberOf", "pwdLastSet", "accountExpires", "lockoutTime"})
            values.push_back(dc.attribute("jdoe", name));
        return values;
    };
    const auto before = snapshot();
    {
        const TicketCache bob(dc.ccache("bob"));
        auto adsi = control();
        EXPECT_EQ(adsi.Descriptioner("jdoe"), "テスト 利用者 有効"); // reading is allowed to every user
        EXPECT_FALSE(adsi.AccountDisabled("jdoe", true));
        EXPECT_FALSE(adsi.AccountLCOpen("jdoe"));
        op.answers = {mb::kAnswerYes};
        EXPECT_FALSE(adsi.PasswordReset("jdoe", Secret("Other-Pass-123")));
        EXPECT_FALSE(adsi.ChangeChineseCharacter("jdoe", "乗っ取り"));
        EXPECT_FALSE(adsi.AddGlobalGroup("bob", "Staff"));
        EXPECT_FALSE(adsi.DelGlobalGroup("jdoe", "Staff"));

        auto user = bindUser(service, "jdoe");
        user->put("AccountExpirationDate", Value::text("2030/1/1"));
        std::string description;
        EXPECT_EQ(errorNumber([&] { user->setInfo(); }, &description), codes::kAccessDenied);
        EXPECT_EQ(description, "アクセスが拒否されました。 (LDAP 50 / 00002098)");
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(dc.attribute("bob", "memberOf"), std::vector<std::string>{});
    // Back on the administrator's ticket, its own connection is used again.
    EXPECT_TRUE(control().AccountLCOpen("jdoe"));
}

TEST_F(AdTest, AMissingOrExpiringTicketIsAClearError) {
    std::string description;
    {
        const TicketCache none("FILE:" + dc.state() + "/cc.none");
        EXPECT_EQ(errorNumber([&] { bindUser(service, "jdoe"); }, &description), codes::kLogonFailure);
        EXPECT_EQ(description, kNoTicket);
        EXPECT_EQ(control().Descriptioner("jdoe"), "");
    }
    const std::string shortLived = "FILE:" + dc.state() + "/cc.short";
    std::string out;
    const std::string input = dc.password("bob") + "\n";
    ASSERT_EQ(runCommand("KRB5CCNAME=" + shortLived + " kinit -l 4m bob@QUILL.TEST", &out, &input), 0) << out;
    {
        const TicketCache soon(shortLived);
        EXPECT_EQ(errorNumber([&] { bindUser(service, "jdoe"); }, &description), codes::kLogonFailure);
        EXPECT_EQ(description, kNoTicket);
    }
}

// The client ends of open connections to the controller's LDAP port, in this network namespace.
int ldapClientSockets() {
    // /proc/net/tcp writes the address as a little-endian hex word, then the port.
    in_addr dc{};
    const char* ip = std::getenv("QUILL_DC_IP");
    inet_pton(AF_INET, ip && *ip ? ip : "127.0.0.3", &dc);
    char dcSocket[16];
    std::snprintf(dcSocket, sizeof dcSocket, "%08X:0185", dc.s_addr);
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    int count = 0;
    std::getline(tcp, line);
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote == dcSocket && state == "01") // the controller's port 389, established
            ++count;
    }
    return count;
}

TEST_F(AdTest, OneConnectionServesManyBinds) {
    ldapdir::ConnectionCache cache;
    ldapdir::LdapService own(cache);
    const int before = ldapClientSockets();
    directory::ADSIControl adsi(own, op);
    for (const std::string target : {"QUILL", "quill.test", "QUILL", "quill.test"}) {
        adsi.setTargetDomainServer(target);
        EXPECT_NE(adsi.Descriptioner("jdoe"), "");
    }
    EXPECT_EQ(ldapClientSockets(), before + 1);
    cache.clear();
    EXPECT_EQ(ldapClientSockets(), before);
}

TEST_F(AdTest, AHungControllerTimesOutAndIsUsedAgainOnceItAnswers) {
    ldapdir::ConnectionCache cache(ldapdir::Timeouts{std::chrono::seconds(2), std::chrono::seconds(2)});
    ldapdir::LdapService own(cache);
    directory::ADSIControl adsi(own, op);
    adsi.setTargetDomainServer(kDomain);
    ASSERT_NE(adsi.Descriptioner("jdoe"), "");
    dc.pause();
    std::string description;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(errorNumber([&] { bindUser(own, "jdoe"); }, &description), codes::kTimeout) << description;
    const auto waited = std::chrono::steady_clock::now() - started;
    dc.resume();
    EXPECT_LT(waited, std::chrono::seconds(10)) << "gave up after the operation time-out, not later";
    EXPECT_EQ(adsi.Descriptioner("jdoe"), "テスト 利用者 有効");
}

TEST_F(AdTest, AKilledControllerGivesFalseAndTheNextOperationAfterItsRestartSucceeds) {
    auto adsi = control();
    ASSERT_NE(adsi.Descriptioner("jdoe"), ""); // the shared connection is open
    dc.kill();
    EXPECT_FALSE(adsi.AccountLCOpen("jdoe"));
    EXPECT_EQ(adsi.Descriptioner("jdoe"), "");
    std::string description;
    EXPECT_EQ(errorNumber([&] { bindUser(service, "jdoe"); }, &description), codes::kServerUnavailable);
    EXPECT_EQ(description, "ドメインコントローラー dc1.quill.test に接続できません。");
    EXPECT_EQ(op.busyDepth, 0);
    dc.restart();
    EXPECT_TRUE(adsi.AccountLCOpen("jdoe"));
    EXPECT_EQ(adsi.Descriptioner("jdoe"), "テスト 利用者 有効");
}

} // namespace
