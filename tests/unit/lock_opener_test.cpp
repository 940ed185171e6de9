#include <gtest/gtest.h>

#include "app/lock_opener.h"
#include "app/main_module.h"
#include "fake_directory.h"
#include "test_support.h"

using app::Event;
using Log = std::vector<std::string>;
namespace mb = quill::msgbox;

namespace {

const std::string kResetPrompt =
    "パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\r\nよろしいですか？";
const std::string kStopPrompt = "アカウントを停止すると、利用できなくなります。\r\nよろしいですか？";

class Window : public testing::Test {
protected:
    Window() {
        op.sharedLog = &dir.log;
        dir.account("CORP", "jdoe").description = "営業部";
        dir.account("CORP", "amy");
        dir.listing["CORP"] = {"jdoe", "amy"};
        dir.account("PC01.", "localuser");
        dir.account("WORKGROUP", "localuser");
    }

    app::LockOpener& window() {
        if (!m_window)
            m_window = std::make_unique<app::LockOpener>(form, env, commandLine);
        return *m_window;
    }
    void type(const std::string& text) { ASSERT_TRUE(window().textEdited("account_Combo", text)); }
    void click(std::string_view control) { ASSERT_TRUE(window().dispatch(control, Event::Click)); }

    fakes::FakeDirectory dir;
    fakes::ScriptedOperator op;
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Form form;
    app::Environment env{dir, computer, op, clock};
    std::string commandLine;

private:
    std::unique_ptr<app::LockOpener> m_window;
};

TEST_F(Window, LoadFillsCaptionListTargetAndTomorrow) {
    ASSERT_TRUE(window().dispatch("LockOpener", Event::Load));
    EXPECT_EQ(form.caption(), "Quillmarsh 1.0.0");
    EXPECT_EQ(form.items("account_Combo"), (std::vector<std::string>{"jdoe", "amy"})); // directory order
    EXPECT_EQ(form.text("account_Combo"), "");
    EXPECT_EQ(form.text("trgSrv"), "CORP");
    EXPECT_EQ(form.text("AccountLimit"), "2026/12/8");
    EXPECT_EQ(form.text("DisplayCondition"), "");
    EXPECT_EQ(dir.log,
              (Log{"bind WinNT://CORP", "put Filter=Array[Text(\"User\")]", "enumerate", "get Name", "get Name"}));
    EXPECT_EQ(computer.queries, 2); // the list, then the target box
}

TEST_F(Window, LoadOnAWorkgroupComputerListsItsOwnAccounts) {
    computer.systems = {{"WORKGROUP", "PC01"}};
    ASSERT_TRUE(window().dispatch("LockOpener", Event::Load));
    EXPECT_EQ(dir.log.front(), "bind WinNT://WORKGROUP"); // the list never takes the substitution
    EXPECT_EQ(form.text("trgSrv"), "PC01.");
}

// A workgroup's container that does not answer gives this computer's own accounts, or none; a
// domain that does not answer still ends the program.
TEST_F(Window, AListThatCannotBeReadFallsBackToThisComputerOnlyInAWorkgroup) {
    dir.accounts.erase("WORKGROUP");
    dir.listing["PC01"] = {"admin", "guest"};
    dir.account("PC01", "admin");
    dir.account("PC01", "guest");
    const struct {
        const char* name;
        sysinfo::ComputerSystem system;
        std::optional<std::string> failOn;
        std::vector<std::string> items;
        bool loads;
    } rows[] = {{"WorkgroupUnreachable", {"HOME", " PC01 ", false}, {}, {"admin", "guest"}, true},
                {"NeitherAnswers", {"WORKGROUP", "PC02", false}, {}, {}, true},
                {"WorkgroupListingRefused", {"CORP", "PC01", false}, "enumerate", {}, true},
                {"DomainUnreachable", {"FAR", "PC01", true}, {}, {}, false}};
    for (const auto& row : rows) {
        computer.systems = {row.system};
        dir.failOn = row.failOn;
        app::Form fresh;
        EXPECT_EQ(app::LockOpener(fresh, env, commandLine).dispatch("LockOpener", Event::Load), row.loads) << row.name;
        EXPECT_EQ(fresh.items("account_Combo"), row.items) << row.name;
        EXPECT_EQ(std::exchange(op.escaped, {}).size(), row.loads ? 0u : 1u) << row.name;
    }
}

TEST_F(Window, CommandLineAccountIsLookedUpOnceAgainstTheFallbackTarget) {
    commandLine = "jdoe";
    ASSERT_TRUE(window().dispatch("LockOpener", Event::Load));
    EXPECT_EQ(dir.matching("bind"), (Log{"bind WinNT://CORP", "bind WinNT://CORP/jdoe,User"}));
    EXPECT_EQ(form.text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(form.text("changePassword"), "jdoe");
    EXPECT_EQ(computer.queries, 3); // list, lookup fallback (target box still empty), target box
}

TEST_F(Window, CommandLineWithSeveralWordsIsOneAccountTrimmedAtTheEnds) {
    commandLine = "  jdoe extra ";
    ASSERT_TRUE(window().dispatch("LockOpener", Event::Load));
    EXPECT_EQ(form.text("account_Combo"), "jdoe extra");
    EXPECT_EQ(dir.matching("bind WinNT://CORP/"),
              (Log{"bind WinNT://CORP/jdoe extra,User", "bind WinNT://CORP/jdoe extra,User"}));
    EXPECT_EQ(form.text("DisplayCondition"), "");
    EXPECT_EQ(form.text("changePassword"), "jdoe extra");
}

TEST_F(Window, LoadFailureEscapesAndIsReported) {
    computer.fail = true;
    EXPECT_FALSE(window().dispatch("LockOpener", Event::Load));
    ASSERT_EQ(op.escaped.size(), 1u);
    EXPECT_EQ(op.escaped[0].first, static_cast<long>(0x80041003L));
    EXPECT_EQ(form.text("trgSrv"), "");

    computer.fail = false;
    dir.failOn = "enumerate";
    EXPECT_FALSE(window().dispatch("LockOpener", Event::Load));
    EXPECT_EQ(op.escaped.size(), 2u);
}

struct DomainRow {
    const char* name;
    std::vector<sysinfo::ComputerSystem> systems;
    const char* withWorkgroupName;
    const char* withoutWorkgroupName;
};

class CurrentDomain : public Window, public testing::WithParamInterface<DomainRow> {};

TEST_P(CurrentDomain, FollowsTheFirstNonEmptyDomainAndTheWorkgroupRule) {
    computer.systems = GetParam().systems;
    EXPECT_EQ(window().GetCurrentDomain(true), GetParam().withWorkgroupName);
    EXPECT_EQ(window().GetCurrentDomain(false), GetParam().withoutWorkgroupName);
    EXPECT_EQ(window().GetCurrentDomain(), GetParam().withWorkgroupName);
    EXPECT_EQ(computer.queries, 3); // nothing cached
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CurrentDomain,
    testing::Values(DomainRow{"domain", {{"CORP", "PC01"}}, "CORP", "CORP"},
                    DomainRow{"workgroup", {{"WORKGROUP", "PC01"}}, "PC01.", "WORKGROUP"},
                    DomainRow{"other_workgroup", {{"HOME", "PC01"}}, "HOME", "HOME"},
                    DomainRow{"mixed_case_workgroup", {{"Workgroup", "PC01"}}, "Workgroup", "Workgroup"},
                    DomainRow{"spaces", {{"  CORP ", "PC01"}}, "CORP", "CORP"},
                    DomainRow{"spaced_workgroup_and_name", {{" WORKGROUP ", " PC01 "}}, "PC01.", "WORKGROUP"},
                    DomainRow{"first_non_empty", {{"", "A"}, {" ", "B"}, {"D2", "C"}, {"D3", "D"}}, "D2", "D2"},
                    DomainRow{"workgroup_takes_its_own_item", {{"", "A"}, {"WORKGROUP", "B"}}, "B.", "WORKGROUP"},
                    DomainRow{"only_empty", {{"", "A"}, {"  ", "B"}}, "", ""}, DomainRow{"none", {}, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Window, TypingLetterByLetterLooksUpEachText) {
    for (const char* text : {"j", "jd", "jdo"}) {
        type(text);
        EXPECT_EQ(form.text("DisplayCondition"), "") << text;
        EXPECT_EQ(form.text("changePassword"), text);
    }
    type("jdoe");
    EXPECT_EQ(dir.matching("bind"), (Log{"bind WinNT://CORP/j,User", "bind WinNT://CORP/jd,User",
                                         "bind WinNT://CORP/jdo,User", "bind WinNT://CORP/jdoe,User"}));
    EXPECT_EQ(form.text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(op.busyDepth, 0);
}

TEST_F(Window, PaddedNameIsTrimmedWithTwoLookupsAndOneResult) {
    form.setText("trgSrv", "CORP");
    type(" jdoe ");
    EXPECT_EQ(form.text("account_Combo"), "jdoe");
    EXPECT_EQ(dir.matching("bind"), (Log{"bind WinNT://CORP/jdoe,User", "bind WinNT://CORP/jdoe,User"}));
    EXPECT_EQ(form.text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(form.text("changePassword"), "jdoe");
    // Full-width spaces are trimmed the same way.
    type("\xE3\x80\x80"
         "amy");
    EXPECT_EQ(form.text("account_Combo"), "amy");
    EXPECT_EQ(form.text("DisplayCondition"), " 有効");
}

TEST_F(Window, ClickLooksUpAgainAndEmptyingTheBoxLooksUpTheEmptyName) {
    type("jdoe");
    click("account_Combo");
    EXPECT_EQ(dir.count("bind WinNT://CORP/jdoe,User"), 2u);
    type("");
    EXPECT_EQ(dir.log.back(), "busy off");
    EXPECT_EQ(dir.count("bind WinNT://CORP/,User"), 1u);
    EXPECT_EQ(form.text("DisplayCondition"), "");
    EXPECT_EQ(form.text("changePassword"), "");
}

TEST_F(Window, TargetBoxWithSpacesAroundANameIsUsedAsTyped) {
    dir.account(" CORP", "jdoe");
    form.setText("trgSrv", " CORP");
    type("jdoe");
    click("Command1");
    EXPECT_EQ(dir.matching("bind"), (Log{"bind WinNT:// CORP/jdoe,User", "bind WinNT:// CORP/jdoe,User"}));
    EXPECT_EQ(computer.queries, 0);
    EXPECT_EQ(form.text("trgSrv"), " CORP");
}

// Every lookup and action falls back to the computer's domain when the target box is blank,
// and leaves the box as it was.
class BlankTarget : public Window, public testing::WithParamInterface<const char*> {};

TEST_P(BlankTarget, FallsBackOnEveryPath) {
    computer.systems = {{"WORKGROUP", "PC01"}};
    form.setText("trgSrv", GetParam());
    type("localuser");
    op.answers = {mb::kAnswerYes, mb::kAnswerYes, mb::kAnswerYes};
    for (const char* button : {"Command1", "Command2", "アカウント有効", "アカウント停止"})
        click(button);
    for (const auto& line : dir.matching("bind"))
        EXPECT_EQ(line.rfind("bind WinNT://PC01./localuser", 0), 0u) << line;
    EXPECT_EQ(dir.count("bind"), 7u); // lookup, unlock, unlock+reset, enable x2, disable
    EXPECT_EQ(computer.queries, 5);   // once per lookup or action
    EXPECT_EQ(form.text("trgSrv"), GetParam());
    EXPECT_EQ(form.text("DisplayCondition"), " 有効");
}

INSTANTIATE_TEST_SUITE_P(Texts, BlankTarget, testing::Values("", "   ", "\xE3\x80\x80"));

TEST_F(Window, UnlockReportsEitherOutcome) {
    form.setText("trgSrv", "CORP");
    dir.account("CORP", "jdoe").locked = true;
    type("jdoe");
    const auto condition = form.text("DisplayCondition");
    click("Command1");
    EXPECT_FALSE(dir.account("CORP", "jdoe").locked);
    type("ghost");
    click("Command1");
    ASSERT_EQ(op.shown.size(), 2u);
    EXPECT_EQ(op.shown[0], (fakes::ShownBox{"解除されました。", 0, std::nullopt}));
    EXPECT_EQ(op.shown[1], (fakes::ShownBox{"解除されませんでした。", 0, std::nullopt}));
    EXPECT_EQ(condition, "営業部 有効 ロック");
}

TEST_F(Window, ActionsNeverRefreshTheCondition) {
    form.setText("trgSrv", "CORP");
    type("jdoe");
    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_TRUE(dir.account("CORP", "jdoe").disabled);
    EXPECT_EQ(form.text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(dir.count("get Description"), 1u);
}

TEST_F(Window, ResetAskedTwiceThenUnlocksSetsAndExpires) {
    form.setText("trgSrv", "CORP");
    auto& jdoe = dir.account("CORP", "jdoe");
    jdoe.locked = true;
    type("jdoe");
    form.setText("changePassword", "N3w-pass");
    dir.log.clear();
    op.answers = {mb::kAnswerYes, mb::kAnswerYes};
    click("Command2");
    EXPECT_EQ(dir.log,
              (Log{"box " + kResetPrompt, "busy on", "bind WinNT://CORP/jdoe,User", "put IsAccountLocked=false",
                   "SetInfo", "busy off", "box jdoe のパスワードをリセットします。よろしいですか？", "busy on",
                   "bind WinNT://CORP/jdoe,User", "get PasswordNeverExpires", "SetPassword",
                   "put PasswordExpired=Int16(1)", "SetInfo", "busy off", "box 解除/パスワードリセットされました。"}));
    EXPECT_EQ(op.shown[0].style, 0x34);
    EXPECT_EQ(op.shown[0].title, std::string("パスワードリセットの確認"));
    EXPECT_EQ(op.shown[2].style, 0);
    EXPECT_FALSE(jdoe.locked);
    EXPECT_EQ(jdoe.password, "N3w-pass");
    EXPECT_TRUE(jdoe.passwordExpired);
}

TEST_F(Window, ResetDeclinedAtFirstDoesNothingAtAll) {
    form.setText("trgSrv", "");
    type("jdoe");
    dir.log.clear();
    const int queries = computer.queries;
    op.answers = {mb::kAnswerNo};
    click("Command2");
    EXPECT_EQ(dir.log, (Log{"box " + kResetPrompt}));
    EXPECT_EQ(computer.queries, queries);
}

TEST_F(Window, ResetDeclinedSecondLeavesTheUnlockInForce) {
    form.setText("trgSrv", "CORP");
    dir.account("CORP", "jdoe").locked = true;
    type("jdoe");
    op.answers = {mb::kAnswerYes, mb::kAnswerNo};
    click("Command2");
    EXPECT_FALSE(dir.account("CORP", "jdoe").locked);
    EXPECT_FALSE(dir.account("CORP", "jdoe").passwordExpired);
    EXPECT_EQ(op.shown.back().text, "○ロック解除完了/×パスワードリセット未完了");
}

TEST_F(Window, ResetWhoseUnlockFailsTriesNoPassword) {
    form.setText("trgSrv", "CORP");
    type("ghost");
    op.answers = {mb::kAnswerYes, mb::kAnswerYes};
    click("Command2");
    ASSERT_EQ(op.shown.size(), 2u); // no second question
    EXPECT_EQ(op.shown.back().text, "作業を完了できませんでした。");
    EXPECT_EQ(dir.count("SetPassword"), 0u);
}

TEST_F(Window, EnableCommitsTwiceWithTheDateAsTyped) {
    ASSERT_TRUE(window().dispatch("LockOpener", Event::Load)); // proposes tomorrow
    dir.account("CORP", "jdoe").disabled = true;
    type("jdoe");
    dir.log.clear();
    click("アカウント有効");
    EXPECT_EQ(dir.log,
              (Log{"busy on", "bind WinNT://CORP/jdoe,User", "put AccountDisabled=false", "SetInfo", "busy off",
                   "busy on", "bind WinNT://CORP/jdoe", "put AccountExpirationDate=Text(\"2026/12/8\")", "SetInfo",
                   "busy off", "box 2026/12/8 迄 利用可能になりました。"}));
    EXPECT_EQ(op.shown.back().style, 0x40);
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);
}

struct ExpiryRow {
    const char* name;
    const char* limit;
    int check;
    const char* written;
    const char* message;
};

class Expiry : public Window, public testing::WithParamInterface<ExpiryRow> {};

TEST_P(Expiry, WritesTheDateOrNoLimit) {
    const auto& row = GetParam();
    form.setText("trgSrv", "CORP");
    type("jdoe");
    form.setText("AccountLimit", row.limit);
    ASSERT_TRUE(window().valueClicked("Check1", row.check));
    click("アカウント有効");
    EXPECT_EQ(dir.matching("put AccountExpirationDate"),
              (Log{std::string("put AccountExpirationDate=") + row.written}));
    EXPECT_EQ(op.shown.back(), (fakes::ShownBox{row.message, 0x40, std::nullopt}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Expiry,
    testing::Values(ExpiryRow{"date", "2025/1/15", 0, "Text(\"2025/1/15\")", "2025/1/15 迄 利用可能になりました。"},
                    ExpiryRow{"past_date_unchanged", " 2020-02-29", 0, "Text(\" 2020-02-29\")",
                              " 2020-02-29 迄 利用可能になりました。"},
                    ExpiryRow{"ticked", "2025/1/15", 1, "Int32(1)", "アカウントは無期限に有効となりました。"},
                    ExpiryRow{"empty", "", 0, "Int32(1)", "アカウントは無期限に有効となりました。"},
                    ExpiryRow{"not_a_date", "abc", 0, "Int32(1)", "アカウントは無期限に有効となりました。"},
                    ExpiryRow{"impossible_date", "2025/2/30", 0, "Int32(1)", "アカウントは無期限に有効となりました。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Window, EnableThatCannotClearTheFlagWritesNoDate) {
    form.setText("trgSrv", "CORP");
    type("jdoe");
    dir.failOn = "put AccountDisabled";
    click("アカウント有効");
    EXPECT_EQ(op.shown.back(), (fakes::ShownBox{"アカウントを有効にできませんでした。", 0x10, std::nullopt}));
    EXPECT_EQ(dir.count("put AccountExpirationDate"), 0u);
}

TEST_F(Window, EnableWhoseOwnWriteFailsEscapesAndKeepsTheEnabling) {
    form.setText("trgSrv", "CORP");
    dir.account("CORP", "jdoe").disabled = true;
    type("jdoe");
    dir.failOn = "put AccountExpirationDate";
    EXPECT_FALSE(window().dispatch("アカウント有効", Event::Click));
    ASSERT_EQ(op.escaped.size(), 1u);
    EXPECT_EQ(op.escaped[0].second, "Access is denied.");
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);
    EXPECT_EQ(op.busyDepth, 0);
    EXPECT_TRUE(op.shown.empty());
}

TEST_F(Window, DisableAsksFirst) {
    form.setText("trgSrv", "CORP");
    type("jdoe");
    op.answers = {mb::kAnswerNo};
    click("アカウント停止");
    EXPECT_EQ(op.shown.back(), (fakes::ShownBox{kStopPrompt, 0x34, "停止の確認"}));
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);

    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_TRUE(dir.account("CORP", "jdoe").disabled);
    EXPECT_EQ(op.shown.back(), (fakes::ShownBox{"アカウントを停止しました。", 0x40, std::nullopt}));

    type("ghost");
    op.answers = {mb::kAnswerYes};
    click("アカウント停止");
    EXPECT_EQ(op.shown.back(), (fakes::ShownBox{"アカウントを停止できませんでした。", 0x10, std::nullopt}));
}

TEST_F(Window, CheckBoxTogglesOnlyTheDateBoxAvailability) {
    form.setText("AccountLimit", "2027/1/1");
    ASSERT_TRUE(window().valueClicked("Check1", 1));
    EXPECT_FALSE(form.enabled("AccountLimit"));
    ASSERT_TRUE(window().valueClicked("Check1", 0));
    EXPECT_TRUE(form.enabled("AccountLimit"));
    EXPECT_EQ(form.text("AccountLimit"), "2027/1/1");
    EXPECT_TRUE(dir.log.empty());
}

TEST_F(Window, QueryFailureInAHandlerEscapesThroughTheBoundary) {
    computer.fail = true;
    EXPECT_FALSE(window().textEdited("account_Combo", "jdoe"));
    EXPECT_FALSE(window().dispatch("Command1", Event::Click));
    EXPECT_EQ(op.escaped.size(), 2u);
    EXPECT_TRUE(dir.log.empty());
}

TEST_F(Window, OnlyTheTabledEventsHaveHandlers) {
    EXPECT_TRUE(app::hasHandler("account_Combo", Event::Change));
    EXPECT_TRUE(app::hasHandler("account_Combo", Event::Click));
    EXPECT_TRUE(app::hasHandler("アカウント有効", Event::Click));
    EXPECT_FALSE(app::hasHandler("trgSrv", Event::Change));
    EXPECT_FALSE(app::hasHandler("changePassword", Event::Change));
    EXPECT_FALSE(app::hasHandler("Label1", Event::Click));
    ASSERT_TRUE(window().dispatch("Frame1", Event::Click));
    ASSERT_TRUE(window().textEdited("trgSrv", "X"));
    EXPECT_TRUE(dir.log.empty());
}

class RecordingHost final : public app::WindowHost {
public:
    int shown = 0;
    std::string captionWhenShown;
    void show(app::LockOpener& window) override {
        ++shown;
        captionWhenShown = window.form().caption();
    }
};

TEST(MainModule, KeepsTheCommandLineLoadsThenShows) {
    fakes::FakeDirectory dir;
    dir.account("CORP", "jdoe");
    fakes::ScriptedOperator op;
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Main_Module module({dir, computer, op, clock});
    RecordingHost host;
    ASSERT_TRUE(module.Main("jdoe", host));
    EXPECT_EQ(module.CommandLine(), "jdoe");
    EXPECT_EQ(host.shown, 1);
    EXPECT_EQ(host.captionWhenShown, "Quillmarsh 1.0.0");
    EXPECT_EQ(module.form().text("DisplayCondition"), " 有効");

    app::Main_Module failing({dir, computer, op, clock});
    computer.fail = true;
    RecordingHost notShown;
    EXPECT_FALSE(failing.Main("", notShown));
    EXPECT_EQ(notShown.shown, 0);
    EXPECT_EQ(op.escaped.size(), 1u);
}

} // namespace
