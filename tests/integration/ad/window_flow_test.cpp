#include <gtest/gtest.h>

#include "ad_fixture.h"
#include "app/lock_opener.h"
#include "directory/ldap/ad_values.h"

using app::Event;
namespace mb = quill::msgbox;

namespace {

// The window's logic with the domain as its target, as a domain member computer would see it.
class DomainWindow : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        if (IsSkipped())
            return;
        computer.systems = {{"quill.test", "VM"}};
        window = std::make_unique<app::LockOpener>(form, env, commandLine);
        ASSERT_TRUE(window->dispatch("LockOpener", Event::Load)) << op.escaped.at(0).second;
        ASSERT_TRUE(op.escaped.empty()) << op.escaped.front().second;
    }

    void choose(const std::string& account) { ASSERT_TRUE(window->textEdited("account_Combo", account)); }
    void click(std::string_view control) { ASSERT_TRUE(window->dispatch(control, Event::Click)); }
    std::string lastBox() const { return op.shown.empty() ? "" : op.shown.back().text; }

    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Form form;
    app::Environment env{service, computer, op, clock};
    std::string commandLine = "flow";
    std::unique_ptr<app::LockOpener> window;
};

TEST_F(DomainWindow, LoadListsTheDomainsUsersAndShowsTheCommandLineAccount) {
    const auto& items = form.items("account_Combo");
    auto expected = dc.userNames();
    EXPECT_EQ(items.size(), expected.size());
    for (const char* name : {"Administrator", "jdoe", "flow", "stopped"})
        EXPECT_EQ(std::count(items.begin(), items.end(), name), 1) << name;
    EXPECT_EQ(std::count(items.begin(), items.end(), "Staff"), 0);
    EXPECT_EQ(form.text("trgSrv"), "quill.test");
    EXPECT_EQ(form.text("DisplayCondition"), "画面試験 有効");
    EXPECT_EQ(form.text("changePassword"), "flow");
}

TEST_F(DomainWindow, ConditionFollowsTheAccountBoxOnEveryTargetForm) {
    for (const std::string target : {"QUILL", "dc1.quill.test", "   "}) {
        ASSERT_TRUE(window->textEdited("trgSrv", target));
        choose("  stopped ");
        EXPECT_EQ(form.text("account_Combo"), "stopped");
        EXPECT_EQ(form.text("DisplayCondition"), "停止中 無効") << target;
        choose("nosuch");
        EXPECT_EQ(form.text("DisplayCondition"), "");
    }
}

TEST_F(DomainWindow, UnlockAndResetButtonsWorkOnALockedAccount) {
    const std::string scratch = "FILE:" + dc.state() + "/cc.scratch";
    for (int attempt = 0; attempt < 3; ++attempt)
        dc.kinit("flow", "wrong-password", scratch);
    choose("jdoe");
    choose("flow");
    EXPECT_EQ(form.text("DisplayCondition"), "画面試験 有効 ロック");

    click("Command1");
    EXPECT_EQ(lastBox(), "解除されました。");
    EXPECT_EQ(dc.number("flow", "lockoutTime"), 0);

    const std::string fresh = "Fl-" + std::to_string(::getpid()) + "-w9Z";
    ASSERT_TRUE(window->textEdited("changePassword", fresh));
    op.answers = {mb::kAnswerYes, mb::kAnswerYes};
    click("Command2");
    EXPECT_EQ(lastBox(), "解除/パスワードリセットされました。");
    EXPECT_EQ(dc.number("flow", "pwdLastSet"), 0);
    std::string out;
    EXPECT_NE(dc.kinit("flow", fresh, scratch, &out), 0);
    EXPECT_NE(out.find("xpired"), std::string::npos) << out;

    choose("nosuch");
    click("Command1");
    EXPECT_EQ(lastBox(), "解除されませんでした。");
}

TEST_F(DomainWindow, StopAndEnableButtonsWriteTheFlagAndTheExpiryDate) {
    choose("flow");
    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_EQ(lastBox(), "アカウントを停止しました。");
    EXPECT_EQ(dc.number("flow", "userAccountControl") & ldapdir::kAccountDisable, ldapdir::kAccountDisable);

    ASSERT_TRUE(window->textEdited("AccountLimit", "2031/3/20"));
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "2031/3/20 迄 利用可能になりました。");
    EXPECT_EQ(dc.number("flow", "userAccountControl") & ldapdir::kAccountDisable, 0);
    EXPECT_EQ(dc.number("flow", "accountExpires"), ldapdir::accountExpiresAfter({2031, 3, 20}));

    ASSERT_TRUE(window->valueClicked("Check1", 1));
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "アカウントは無期限に有効となりました。");
    EXPECT_EQ(dc.number("flow", "accountExpires"), ldapdir::kNeverExpires);

    choose("nosuch");
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "アカウントを有効にできませんでした。");
    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_EQ(lastBox(), "アカウントを停止できませんでした。");
    EXPECT_TRUE(op.escaped.empty());
    EXPECT_EQ(op.busyDepth, 0);
}

} // namespace
