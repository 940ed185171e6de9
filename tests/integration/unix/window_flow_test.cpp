#include <gtest/gtest.h>

#include <filesystem>

#include "app/lock_opener.h"
#include "directory/date_text.h"
#include "directory/routing_service.h"
#include "directory/unix/unix_service.h"
#include "sandbox.h"
#include "system/linux/host_computer_system.h"
#include "system/linux/this_computer.h"
#include "temp_dir.h"
#include "test_support.h"
#include "tz_guard.h"

// The window's flows end to end on a workgroup computer, where the default target is this
// computer's own accounts: the computer-system query reads fixture files, routing sends the
// computer's name to the Unix backend, and a scripted operator answers the message boxes.

namespace {

using app::Event;
namespace mb = quill::msgbox;

class WindowOnThisComputer : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_SANDBOX();
        sources.smbConfPath =
            dir.write("smb.conf", "[global]\n   workgroup = WORKGROUP\n   server role = standalone\n");
        sources.sssdConfPath = dir.path() + "/none";
        sources.hostsPath = dir.path() + "/none";
        sources.hostName = [] { return std::string("quillpc"); };
        computer = std::make_unique<sysinfo::HostComputerSystem>(sources);
        routing = std::make_unique<directory::RoutingService>(
            [this](std::string_view host) { return sysinfo::namesComputer(host, sysinfo::readHostIdentity(sources)); },
            &local, nullptr);
        env = std::make_unique<app::Environment>(app::Environment{*routing, *computer, op, clock});
        window = std::make_unique<app::LockOpener>(form, *env, commandLine);
    }

    void load() { ASSERT_TRUE(window->dispatch("LockOpener", Event::Load)); }
    void choose(const std::string& account) { ASSERT_TRUE(window->textEdited("account_Combo", account)); }
    void click(std::string_view control) { ASSERT_TRUE(window->dispatch(control, Event::Click)); }
    std::string lastBox() const { return op.shown.empty() ? std::string() : op.shown.back().text; }
    static std::string shadow(const std::string& name, int field) {
        return sandbox::fields("/etc/shadow", name).at(field);
    }

    testutil::TempDir dir;
    sysinfo::IdentitySources sources;
    std::unique_ptr<sysinfo::HostComputerSystem> computer;
    unixacct::UnixService local;
    std::unique_ptr<directory::RoutingService> routing;
    fakes::ScriptedOperator op;
    fakes::FixedClock clock;
    app::Form form;
    std::string commandLine;
    std::unique_ptr<app::Environment> env;
    std::unique_ptr<app::LockOpener> window;
};

TEST_F(WindowOnThisComputer, LoadListsLocalAccountsAndShowsTheCommandLineAccount) {
    const std::string name = sandbox::createUser("load", "受付");
    commandLine = " " + name + " ";
    load();
    const auto& items = form.items("account_Combo");
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.front(), "root");
    EXPECT_EQ(items.back(), name);
    EXPECT_EQ(form.text("trgSrv"), "quillpc.");
    EXPECT_EQ(form.text("AccountLimit"), "2026/12/8");
    EXPECT_EQ(form.text("account_Combo"), name);
    EXPECT_EQ(form.text("DisplayCondition"), "受付 有効");
    EXPECT_TRUE(op.escaped.empty());
    EXPECT_EQ(op.busyDepth, 0);
}

TEST_F(WindowOnThisComputer, ConditionFollowsTheAccountBox) {
    const std::string name = sandbox::createUser("cond");
    load();
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 有効");
    EXPECT_EQ(form.text("changePassword"), name);
    sandbox::failLogins(name, 3);
    ASSERT_EQ(sandbox::run({"/usr/sbin/usermod", "-L", name}), 0);
    choose("");
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 無効 ロック");
    choose("no-such-account");
    EXPECT_EQ(form.text("DisplayCondition"), "");
    ASSERT_TRUE(window->textEdited("trgSrv", "CORP"));
    choose(name + "x");
    EXPECT_EQ(form.text("DisplayCondition"), ""); // no domain backend here: the lookup fails quietly
}

TEST_F(WindowOnThisComputer, UnlockClearsARealTally) {
    const std::string name = sandbox::createUser("unlock");
    sandbox::failLogins(name, 3);
    load();
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 有効 ロック");
    click("Command1");
    EXPECT_EQ(lastBox(), "解除されました。");
    EXPECT_EQ(std::filesystem::file_size(sandbox::faillockDir() + "/" + name), 0u);
    EXPECT_EQ(form.text("DisplayCondition"), " 有効 ロック"); // not refreshed by the action
    choose("");
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 有効");

    choose("no-such-account");
    click("Command1");
    EXPECT_EQ(lastBox(), "解除されませんでした。");
}

TEST_F(WindowOnThisComputer, ResetSetsThePasswordAndForcesAChange) {
    const std::string name = sandbox::createUser("reset");
    sandbox::failLogins(name, 3);
    load();
    choose(name);
    ASSERT_TRUE(window->textEdited("changePassword", "Fresh-Pw9"));
    op.answers = {mb::kAnswerYes, mb::kAnswerYes};
    click("Command2");
    EXPECT_EQ(lastBox(), "解除/パスワードリセットされました。");
    EXPECT_EQ(shadow(name, 2), "0");
    EXPECT_EQ(sandbox::run({"/usr/bin/pamtester", sandbox::kPamService, name, "authenticate"}, "Fresh-Pw9\n"), 0);

    const std::string before = sandbox::slurp("/etc/shadow");
    op.answers = {mb::kAnswerYes, mb::kAnswerNo};
    click("Command2");
    EXPECT_EQ(lastBox(), "○ロック解除完了/×パスワードリセット未完了");
    EXPECT_EQ(sandbox::slurp("/etc/shadow"), before);
}

TEST_F(WindowOnThisComputer, EnableWithADateAndWithout) {
    const testutil::TzGuard tz("Europe/Berlin");
    const std::string name = sandbox::createUser("enable");
    ASSERT_EQ(sandbox::run({"/usr/sbin/usermod", "-L", "-e", "1", name}), 0);
    load();
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 無効");

    ASSERT_TRUE(window->textEdited("AccountLimit", "2026/10/25"));
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "2026/10/25 迄 利用可能になりました。");
    EXPECT_EQ(op.shown.back().style, mb::kInformation);
    EXPECT_EQ(shadow(name, 7), std::to_string(directory::daysFromCivil({2026, 10, 26})));
    EXPECT_EQ(shadow(name, 1).substr(0, 1), "$");

    ASSERT_TRUE(window->valueClicked("Check1", 1));
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "アカウントは無期限に有効となりました。");
    EXPECT_EQ(shadow(name, 7), "");

    choose("no-such-account");
    click("アカウント有効");
    EXPECT_EQ(lastBox(), "アカウントを有効にできませんでした。");
    EXPECT_EQ(op.shown.back().style, mb::kCritical);
    EXPECT_TRUE(op.escaped.empty());
}

TEST_F(WindowOnThisComputer, DisableAfterConfirmation) {
    const std::string name = sandbox::createUser("disable");
    load();
    choose(name);
    const std::string before = sandbox::slurp("/etc/shadow");
    op.answers = {mb::kAnswerNo};
    click("アカウント停止");
    EXPECT_EQ(sandbox::slurp("/etc/shadow"), before);

    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_EQ(lastBox(), "アカウントを停止しました。");
    EXPECT_EQ(shadow(name, 1).substr(0, 2), "!$");
    EXPECT_EQ(shadow(name, 7), "1");
    choose("");
    choose(name);
    EXPECT_EQ(form.text("DisplayCondition"), " 無効");
}

} // namespace
