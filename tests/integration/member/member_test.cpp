#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <set>

#include "app/lock_opener.h"
#include "directory/adsi_control.h"
#include "directory/ldap/ad_values.h"
#include "directory/platform_service.h"
#include "directory/samr/samr_connection.h"
#include "directory/samr/samr_pipe_cache.h"
#include "directory/samr/samr_service.h"
#include "member_server.h"
#include "samba_dc.h"
#include "test_support.h"

using namespace std::chrono_literals;
using app::Event;
namespace mb = quill::msgbox;

namespace {

// The member server's own accounts through the program's real backends and routing.
class MemberTest : public testing::Test {
protected:
    void SetUp() override {
        if (!member.available())
            GTEST_SKIP() << "needs the member server of tests/run-member.sh";
    }

    directory::ADSIControl control(directory::Service& through, const std::string& target = "FILES1") {
        directory::ADSIControl adsi(through, op);
        adsi.setTargetDomainServer(target);
        return adsi;
    }

    MemberServer member;
    SambaDc dc;
    std::unique_ptr<directory::Service> service = directory::makePlatformService();
    fakes::ScriptedOperator op;
};

// The window of a domain member computer whose target box names the member server.
class MemberWindow : public MemberTest {
protected:
    void SetUp() override {
        MemberTest::SetUp();
        if (IsSkipped())
            return;
        computer.systems = {{"quill.test", "VM"}};
        window = std::make_unique<app::LockOpener>(form, env, commandLine);
        ASSERT_TRUE(window->dispatch("LockOpener", Event::Load));
        ASSERT_TRUE(op.escaped.empty()) << op.escaped.front().second;
    }

    void edit(std::string_view control, const std::string& text) { ASSERT_TRUE(window->textEdited(control, text)); }
    void click(std::string_view control) { ASSERT_TRUE(window->dispatch(control, Event::Click)); }
    std::string lastBox() const { return op.shown.empty() ? "" : op.shown.back().text; }

    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Form form;
    app::Environment env{*service, computer, op, clock};
    std::string commandLine;
    std::unique_ptr<app::LockOpener> window;
};

// pdbedit's "Kickoff time" for an expiry written by the program: the end of the local day.
std::string kickoffFor(directory::CivilDate day) {
    const auto nt = ldapdir::accountExpiresAfter(day);
    const std::time_t unixTime = static_cast<std::time_t>(nt / 10000000 - 11644473600LL);
    char text[64];
    std::tm local{};
    localtime_r(&unixTime, &local);
    std::strftime(text, sizeof text, "%d %b %Y %H:%M:%S", &local);
    return text;
}

TEST_F(MemberWindow, EveryFlowOnEveryNameOfTheMember) {
    struct Row {
        const char* name;
        const char* target;
        const char* account;
        const char* description;
    };
    for (const Row row :
         {Row{"NetBIOS name", "FILES1", "kiosk", "受付端末"}, Row{"DNS name", "files1.quill.test", "clerk", "窓口係"},
          Row{"domain/computer path", "QUILL/FILES1", "resetme", ""}}) {
        SCOPED_TRACE(row.name);
        const std::string account = row.account;
        const std::string described = std::string(row.description) + (*row.description ? " " : "");
        edit("trgSrv", row.target);
        ASSERT_EQ(member.exec("pdbedit -r -u " + account + " -c '[L]'"), 0);
        edit("account_Combo", account);
        EXPECT_EQ(form.text("DisplayCondition"), std::string(row.description) + " 有効 ロック");

        click("Command1");
        EXPECT_EQ(lastBox(), "解除されました。");
        EXPECT_EQ(member.flags(account), "U");

        const std::string fresh = "Mb-" + std::to_string(::getpid()) + "-" + account + "-7Q";
        edit("changePassword", fresh);
        op.answers = {mb::kAnswerYes, mb::kAnswerYes};
        click("Command2");
        EXPECT_EQ(lastBox(), "解除/パスワードリセットされました。");
        EXPECT_NE(member.logon(account, fresh).find("NT_STATUS_PASSWORD_MUST_CHANGE"), std::string::npos);
        EXPECT_NE(member.logon(account, member.password(account)).find("NT_STATUS_LOGON_FAILURE"), std::string::npos);

        op.answers = {mb::kAnswerYes};
        click("アカウント停止");
        EXPECT_EQ(lastBox(), "アカウントを停止しました。");
        EXPECT_EQ(member.flags(account), "DU");
        edit("account_Combo", "nosuch");
        edit("account_Combo", account);
        EXPECT_EQ(form.text("DisplayCondition"), std::string(row.description) + " 無効");

        edit("AccountLimit", "2031/3/20");
        click("アカウント有効");
        EXPECT_EQ(lastBox(), "2031/3/20 迄 利用可能になりました。");
        EXPECT_EQ(member.flags(account), "U");
        EXPECT_NE(member.account(account)["Kickoff time"].find(kickoffFor({2031, 3, 20})), std::string::npos);

        ASSERT_TRUE(window->valueClicked("Check1", 1));
        click("アカウント有効");
        EXPECT_EQ(lastBox(), "アカウントは無期限に有効となりました。");
        const std::string kickoff = member.account(account)["Kickoff time"];
        EXPECT_TRUE(kickoff == "0" || kickoff == "never" || kickoff.find("2036") != std::string::npos) << kickoff;
        ASSERT_TRUE(window->valueClicked("Check1", 0));

        edit("account_Combo", "nosuch");
        EXPECT_EQ(form.text("DisplayCondition"), "");
        click("Command1");
        EXPECT_EQ(lastBox(), "解除されませんでした。");
    }
    EXPECT_TRUE(op.escaped.empty());
    EXPECT_EQ(op.busyDepth, 0);
}

TEST_F(MemberTest, AUserWhoIsNoAdministratorChangesNothing) {
    const TicketCache bob(dc.ccache("bob"));
    const auto before = member.account("shared");
    auto adsi = control(*service);
    EXPECT_EQ(adsi.Descriptioner("shared"), " 有効"); // reached, and may read
    op.answers = {mb::kAnswerYes};
    EXPECT_FALSE(adsi.AccountLCOpen("shared"));
    EXPECT_FALSE(adsi.AccountDisabled("shared", true));
    EXPECT_FALSE(adsi.AccountDisabled("shared", false));
    EXPECT_FALSE(adsi.PasswordReset("shared", directory::Secret("Nb-4d-not-set-8Z")));
    EXPECT_FALSE(adsi.ChangeChineseCharacter("shared", "変更"));
    EXPECT_FALSE(adsi.AddGlobalGroup("shared", "Administrators"));
    EXPECT_EQ(member.account("shared"), before);
}

// With ACB_PWNOEXP the computer takes "must change" and ignores it: the reset is refused untouched.
TEST_F(MemberTest, AResetOfAPasswordThatNeverExpiresChangesNothing) {
    ASSERT_EQ(member.exec("pdbedit -r -u shared -c '[X]'"), 0);
    const auto before = member.account("shared");
    op.answers = {mb::kAnswerYes};
    EXPECT_FALSE(control(*service).PasswordReset("shared", directory::Secret("Nb-4d-not-set-8Z")));
    EXPECT_EQ(member.account("shared"), before);
    EXPECT_EQ(member.logon("shared", member.password("shared")).find("NT_STATUS"), std::string::npos);
    ASSERT_EQ(member.exec("pdbedit -r -u shared -c '[ ]'"), 0);
}

TEST_F(MemberTest, ABlankResetKeepsThePasswordAndOnlyForcesAChange) {
    auto adsi = control(*service, "files1.quill.test");
    op.answers = {mb::kAnswerYes};
    EXPECT_TRUE(adsi.PasswordReset("shared", directory::Secret("   ")));
    EXPECT_NE(member.logon("shared", member.password("shared")).find("NT_STATUS_PASSWORD_MUST_CHANGE"),
              std::string::npos);
}

// The descriptions say whether the computer refused or could not be reached.
TEST_F(MemberTest, FailuresSayWhetherTheComputerRefusedOrWasNotThere) {
    const TicketCache bob(dc.ccache("bob"));
    struct Row {
        const char* path;
        bool write;
        const char* says;
    };
    for (const Row row :
         {Row{"WinNT://FILES1/shared,User", true, "FILES1 がユーザーの変更を拒否しました (アクセス拒否)"},
          Row{"WinNT://QUILL/gone.quill.test/shared,User", false, "gone.quill.test に接続できません"},
          Row{"WinNT://gone.quill.test/shared,User", false, "ドメインとしてもコンピューターとしても接続できません"}}) {
        try {
            auto user = directory::as<directory::User>(service->bind(row.path));
            ASSERT_TRUE(row.write) << row.path;
            user->setAccountDisabled(true);
            user->setInfo();
            ADD_FAILURE() << row.path;
        } catch (const directory::Error& error) {
            EXPECT_NE(error.description().find(row.says), std::string::npos) << error.description();
        }
    }
}

TEST_F(MemberTest, LocalGroupsAndTheAccountList) {
    auto adsi = control(*service);
    ASSERT_TRUE(adsi.acGroubalGroupGet("shared"));
    ASSERT_EQ(adsi.acGGpCount(), 0); // the last index: one group
    EXPECT_EQ(adsi.acGGpName(0, "Name"), "Operators");

    std::string out;
    EXPECT_TRUE(adsi.AddGlobalGroup("kiosk", "Operators"));
    member.exec("net sam listmem FILES1\\\\Operators", &out);
    EXPECT_NE(out.find("kiosk"), std::string::npos) << out;
    EXPECT_FALSE(adsi.AddGlobalGroup("kiosk", "Operators")); // already a member
    EXPECT_TRUE(adsi.DelGlobalGroup("kiosk", "Operators"));
    member.exec("net sam listmem FILES1\\\\Operators", &out);
    EXPECT_EQ(out.find("kiosk"), std::string::npos) << out;
    EXPECT_FALSE(adsi.AddGlobalGroup("kiosk", "NoSuchGroup"));

    auto container = directory::as<directory::Container>(service->bind("WinNT://FILES1"));
    for (const char* filter : {"User", "Group"}) {
        container->put("Filter", directory::Value::array({directory::Value::text(filter)}));
        std::set<std::string> listed;
        container->enumerate([&](directory::Object& object) {
            EXPECT_EQ(dynamic_cast<directory::Group*>(&object) != nullptr, std::string(filter) == "Group");
            listed.insert(object.name());
        });
        const std::set<std::string> expected =
            std::string(filter) == "User" ? std::set<std::string>{"kiosk", "clerk", "resetme", "stopped", "shared"}
                                          : std::set<std::string>{"Operators"};
        EXPECT_EQ(listed, expected) << filter;
    }
}

// The real connection, whose answers from the member are dropped from the first change on (by the
// local port of this process's one connection to port 445): the change lands, its answer never
// comes back, and a new connection still gets through.
struct LosesAnswersFromTheFirstChange final : samrdir::SamrConnection {
    explicit LosesAnswersFromTheFirstChange(std::unique_ptr<samrdir::SamrConnection> real) : real(std::move(real)) {}
    ~LosesAnswersFromTheFirstChange() override { runCommand("nft delete table inet quill_lost"); }
    NTSTATUS call(samrdir::SamrCall call, TALLOC_CTX* mem, std::chrono::milliseconds limit) override {
        if (std::holds_alternative<samr_SetUserInfo2*>(call) && !dropping)
            dropping = runCommand("port=$(ss -tnpH state established '( dport = :445 )' | awk '/pid=" +
                                  std::to_string(::getpid()) +
                                  ",/ { n = split($3, a, \":\"); print a[n] }') && nft add table inet quill_lost && "
                                  "nft add chain inet quill_lost out '{ type filter hook output priority 0; }' && "
                                  "nft add rule inet quill_lost out tcp sport 445 tcp dport $port drop") == 0;
        return real->call(call, mem, limit);
    }
    std::span<const std::uint8_t> sessionKey() const noexcept override { return real->sessionKey(); }
    std::unique_ptr<samrdir::SamrConnection> real;
    bool dropping = false;
};

TEST_F(MemberTest, AChangeWhoseAnswerIsLostIsReadBackOnANewConnection) {
    if (const char* own = std::getenv("QUILL_MEMBER_OWN_NET"); !own || std::string(own) != "1")
        GTEST_SKIP() << "needs the network namespace of tests/run-member.sh";
    int connections = 0;
    samrdir::SamrPipeCache cache({.write = 3s}, [&](const std::string& host, std::chrono::milliseconds limit) {
        auto real = samrdir::sambaConnector()(host, limit);
        return ++connections > 1 ? std::move(real) : std::make_unique<LosesAnswersFromTheFirstChange>(std::move(real));
    });
    samrdir::SamrService samr(cache);
    auto user = directory::as<directory::User>(samr.bind("WinNT://files1.quill.test/shared,User"));
    const std::string text = "応答なし-" + std::to_string(::getpid());
    user->setDescription(text);
    EXPECT_NO_THROW(user->setInfo());
    EXPECT_EQ(connections, 2);
    EXPECT_EQ(member.account("shared")["Account desc"], text);
    ASSERT_EQ(member.exec("pdbedit -u shared --account-desc ''"), 0);
}

TEST_F(MemberTest, AStoppedMemberHoldsNoLookupLongAndIsUsedAgainOnceBack) {
    auto adsi = control(*service);
    ASSERT_EQ(adsi.Descriptioner("stopped"), "停止中 無効");
    member.pause();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(adsi.Descriptioner("stopped"), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5500)) << attempt;
    }
    member.resume();
    EXPECT_EQ(adsi.Descriptioner("stopped"), "停止中 無効");

    // A member that restarted drops the open pipe: the next lookup opens another at once.
    member.restart();
    EXPECT_EQ(adsi.Descriptioner("stopped"), "停止中 無効");
}

} // namespace
