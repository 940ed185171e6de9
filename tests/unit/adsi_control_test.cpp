#include <gtest/gtest.h>

#include "directory/adsi_control.h"
#include "fake_directory.h"
#include "test_support.h"

using directory::ADSIControl;
using directory::Secret;
using fakes::FakeDirectory;
using fakes::ScriptedOperator;
using Log = std::vector<std::string>;

namespace {

class ADSIControlTest : public testing::Test {
protected:
    ADSIControlTest() {
        op.sharedLog = &dir.log;
        auto& jdoe = dir.account("CORP", "jdoe");
        jdoe.description = "営業部 山田";
        jdoe.groups = {"Users", "Staff"};
        dir.groups["CORP"]["Users"].description = "Ordinary users";
        dir.groups["CORP"]["Staff"];
        dir.account("CORP", "nobody");
        control.setTargetDomainServer("CORP");
    }

    void expectPointerRestored() const {
        EXPECT_EQ(op.busyDepth, 0);
        if (!op.busySwitches.empty()) {
            EXPECT_TRUE(op.busySwitches.front());
            EXPECT_FALSE(op.busySwitches.back());
        }
    }

    FakeDirectory dir;
    ScriptedOperator op;
    ADSIControl control{dir, op};
};

TEST_F(ADSIControlTest, TargetIsKeptExactlyAndUsedInEveryPath) {
    ADSIControl fresh(dir, op);
    EXPECT_EQ(fresh.TargetDomainServer(), "");
    EXPECT_EQ(fresh.Descriptioner("bob"), "");
    fresh.setTargetDomainServer(" SRV01 ");
    EXPECT_EQ(fresh.TargetDomainServer(), " SRV01 ");
    fresh.AccountLCOpen("bob");
    fresh.setTargetDomainServer("SRV02");
    fresh.AccountDisabled("bob");
    EXPECT_EQ(dir.matching("bind"),
              (Log{"bind WinNT:///bob,User", "bind WinNT:// SRV01 /bob,User", "bind WinNT://SRV02/bob,User"}));
}

struct ConditionRow {
    const char* name;
    const char* description;
    bool disabled;
    bool locked;
    const char* expected;
};

class Condition : public ADSIControlTest, public testing::WithParamInterface<ConditionRow> {};

TEST_P(Condition, IsDescriptionStateWordAndLockWord) {
    const auto& row = GetParam();
    auto& account = dir.account("CORP", "jdoe");
    account.description = row.description;
    account.disabled = row.disabled;
    account.locked = row.locked;
    EXPECT_EQ(control.Descriptioner("jdoe"), row.expected);
    EXPECT_EQ(dir.log, (Log{"busy on", "bind WinNT://CORP/jdoe,User", "get Description", "get AccountDisabled",
                            "get IsAccountLocked", "busy off"}));
}

INSTANTIATE_TEST_SUITE_P(Texts, Condition,
                         testing::Values(ConditionRow{"locked_enabled", "D", false, true, "D 有効 ロック"},
                                         ConditionRow{"locked_disabled", "D", true, true, "D 無効 ロック"},
                                         ConditionRow{"empty_disabled", "", true, false, " 無効"},
                                         ConditionRow{"empty_enabled", "", false, false, " 有効"},
                                         ConditionRow{"trailing_spaces_kept", "D  ", false, false, "D   有効"},
                                         ConditionRow{"japanese", "営業部 山田", false, false, "営業部 山田 有効"}),
                         [](const auto& info) { return std::string(info.param.name); });

class ConditionFailure : public ADSIControlTest, public testing::WithParamInterface<const char*> {};

TEST_P(ConditionFailure, GivesTheEmptyTextNeverAPartOne) {
    dir.failOn = GetParam();
    EXPECT_EQ(control.Descriptioner("jdoe"), "");
    expectPointerRestored();
}

INSTANTIATE_TEST_SUITE_P(Steps, ConditionFailure,
                         testing::Values("bind", "get Description", "get AccountDisabled", "get IsAccountLocked"));

TEST_F(ADSIControlTest, MissingAccountOrUnreachableTargetAnswersFalseEverywhere) {
    for (const char* target : {"CORP", "NOWHERE"}) {
        ADSIControl c(dir, op);
        c.setTargetDomainServer(target);
        EXPECT_EQ(c.Descriptioner("ghost"), "");
        EXPECT_FALSE(c.AccountDisabled("ghost", false));
        EXPECT_FALSE(c.AccountLCOpen("ghost"));
        EXPECT_FALSE(c.ChangeChineseCharacter("ghost", "x"));
        EXPECT_FALSE(c.AddGlobalGroup("ghost", "Staff"));
        EXPECT_FALSE(c.DelGlobalGroup("ghost", "Staff"));
        EXPECT_FALSE(c.acGroubalGroupGet("ghost"));
        op.answers = {quill::msgbox::kAnswerYes};
        EXPECT_FALSE(c.PasswordReset("ghost", Secret("pw")));
        expectPointerRestored();
    }
    EXPECT_EQ(dir.count("SetInfo"), 0u);
}

TEST_F(ADSIControlTest, AccountDisabledWritesTheFlagThenCommits) {
    EXPECT_TRUE(control.AccountDisabled("jdoe")); // omitted flag disables
    EXPECT_TRUE(dir.account("CORP", "jdoe").disabled);
    EXPECT_TRUE(control.AccountDisabled("jdoe", false));
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);
    EXPECT_TRUE(control.AccountDisabled("jdoe", false)); // already enabled: still written
    const Log once{"busy on", "bind WinNT://CORP/jdoe,User", "put AccountDisabled=false", "SetInfo", "busy off"};
    EXPECT_EQ(Log(dir.log.end() - 5, dir.log.end()), once);
}

TEST_F(ADSIControlTest, AccountLCOpenClearsTheLockWithoutReadingIt) {
    dir.account("CORP", "jdoe").locked = true;
    EXPECT_TRUE(control.AccountLCOpen("jdoe"));
    EXPECT_FALSE(dir.account("CORP", "jdoe").locked);
    EXPECT_TRUE(control.AccountLCOpen("jdoe")); // not locked: same write, same answer
    EXPECT_EQ(dir.count("get"), 0u);
    EXPECT_EQ(dir.count("put IsAccountLocked=false"), 2u);
}

struct WriteFailureRow {
    const char* name;
    const char* failOn;
};

class StateWriteFailure : public ADSIControlTest, public testing::WithParamInterface<WriteFailureRow> {};

TEST_P(StateWriteFailure, AnswersFalseAndCommitsNothing) {
    dir.account("CORP", "jdoe").locked = true;
    dir.failOn = GetParam().failOn;
    EXPECT_FALSE(control.AccountDisabled("jdoe", true));
    EXPECT_FALSE(control.AccountLCOpen("jdoe"));
    EXPECT_FALSE(control.ChangeChineseCharacter("jdoe", "new"));
    expectPointerRestored();
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);
    EXPECT_TRUE(dir.account("CORP", "jdoe").locked);
    EXPECT_EQ(dir.account("CORP", "jdoe").description, "営業部 山田");
}

INSTANTIATE_TEST_SUITE_P(Steps, StateWriteFailure,
                         testing::Values(WriteFailureRow{"bind", "bind"}, WriteFailureRow{"write", "put"},
                                         WriteFailureRow{"commit", "SetInfo"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ADSIControlTest, PasswordResetAsksFirstAndNoTouchesNothing) {
    op.answers = {quill::msgbox::kAnswerNo};
    EXPECT_FALSE(control.PasswordReset("jdoe", Secret("Secret#1")));
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, "jdoe のパスワードをリセットします。よろしいですか？");
    EXPECT_EQ(op.shown[0].style, 0x34);
    EXPECT_EQ(op.shown[0].title, std::nullopt);
    EXPECT_EQ(dir.count("bind"), 0u);
    EXPECT_TRUE(op.busySwitches.empty());
}

TEST_F(ADSIControlTest, PasswordResetSetsThenExpiresThenCommits) {
    op.answers = {quill::msgbox::kAnswerYes};
    EXPECT_TRUE(control.PasswordReset("jdoe", Secret(" pass word ")));
    EXPECT_EQ(dir.log,
              (Log{"box jdoe のパスワードをリセットします。よろしいですか？", "busy on", "bind WinNT://CORP/jdoe,User",
                   "get PasswordNeverExpires", "SetPassword", "put PasswordExpired=Int16(1)", "SetInfo", "busy off"}));
    EXPECT_EQ(dir.account("CORP", "jdoe").password, " pass word "); // spaces at the ends kept
    EXPECT_TRUE(dir.account("CORP", "jdoe").passwordExpired);
}

// The directory would take "must change" and ignore it: the temporary password would stay for good.
// An unreadable flag refuses too, rather than promise what may not happen.
TEST_F(ADSIControlTest, PasswordResetRefusesAPasswordThatNeverExpiresBeforeWriting) {
    for (const bool unreadable : {false, true}) {
        dir.log.clear();
        dir.account("CORP", "jdoe").passwordNeverExpires = !unreadable;
        dir.failOn = unreadable ? std::optional<std::string>("get PasswordNeverExpires") : std::nullopt;
        op.answers = {quill::msgbox::kAnswerYes};
        EXPECT_FALSE(control.PasswordReset("jdoe", Secret("Temp#1")));
        EXPECT_EQ(dir.log, (Log{"box jdoe のパスワードをリセットします。よろしいですか？", "busy on",
                                "bind WinNT://CORP/jdoe,User", "get PasswordNeverExpires", "busy off"}))
            << unreadable;
    }
}

TEST_F(ADSIControlTest, BlankPasswordSetsNoneButStillForcesAChange) {
    dir.account("CORP", "jdoe").password = "old";
    for (const char* blank : {"", " ", "   "}) {
        dir.log.clear();
        op.answers = {quill::msgbox::kAnswerYes};
        EXPECT_TRUE(control.PasswordReset("jdoe", Secret(blank)));
        EXPECT_EQ(dir.count("SetPassword"), 0u) << '"' << blank << '"';
        EXPECT_EQ(dir.count("put PasswordExpired=Int16(1)"), 1u);
        EXPECT_EQ(dir.count("SetInfo"), 1u);
    }
    EXPECT_EQ(dir.account("CORP", "jdoe").password, "old");
    // A tab is a real character, not blank.
    op.answers = {quill::msgbox::kAnswerYes};
    EXPECT_TRUE(control.PasswordReset("jdoe", Secret("\t")));
    EXPECT_EQ(dir.account("CORP", "jdoe").password, "\t");
}

TEST_F(ADSIControlTest, PasswordResetFailingAfterTheNewPasswordKeepsItAndAnswersFalse) {
    for (const char* step : {"put PasswordExpired", "SetInfo"}) {
        dir.account("CORP", "jdoe") = {};
        dir.failOn = step;
        op.answers = {quill::msgbox::kAnswerYes};
        EXPECT_FALSE(control.PasswordReset("jdoe", Secret("N3w!")));
        EXPECT_EQ(dir.account("CORP", "jdoe").password, "N3w!") << step;
        EXPECT_FALSE(dir.account("CORP", "jdoe").passwordExpired) << step;
        expectPointerRestored();
    }
    dir.failOn = "SetPassword";
    op.answers = {quill::msgbox::kAnswerYes};
    EXPECT_FALSE(control.PasswordReset("jdoe", Secret("x")));
    EXPECT_EQ(dir.count("put PasswordExpired"), 2u); // not reached the third time
}

TEST_F(ADSIControlTest, DescriptionIsWrittenUnchanged) {
    EXPECT_TRUE(control.ChangeChineseCharacter("jdoe", "  経理部　佐藤 "));
    EXPECT_EQ(dir.account("CORP", "jdoe").description, "  経理部　佐藤 ");
    EXPECT_TRUE(control.ChangeChineseCharacter("jdoe", ""));
    EXPECT_EQ(control.Descriptioner("jdoe"), " 有効");
    EXPECT_EQ(dir.count("get Description"), 1u); // the write never reads first
}

TEST_F(ADSIControlTest, GroupListJoinsNameAndDescriptionPerLine) {
    EXPECT_EQ(control.acGGpCount(), -1);
    EXPECT_TRUE(control.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(control.groupList(), "Users/*s*/Ordinary users\r\nStaff/*s*/");
    EXPECT_EQ(control.acGGpCount(), 1);
    EXPECT_EQ(control.acGGpName(0, "Name"), "Users");
    EXPECT_EQ(control.acGGpName(0, "Description"), "Ordinary users");
    EXPECT_EQ(control.acGGpName(1, "Name"), "Staff");
    EXPECT_EQ(control.acGGpName(1, "Description"), "");
    EXPECT_EQ(control.acGGpName(1, "name"), ""); // exact, case-sensitive selector
    EXPECT_EQ(dir.matching("get"),
              (Log{"get Groups", "get Name", "get Group.Description", "get Name", "get Group.Description"}));
    expectPointerRestored();
}

TEST_F(ADSIControlTest, GroupListOddities) {
    dir.groups["CORP"]["Users"].description = "a/*s*/b";
    dir.groups["CORP"]["Staff"].description = "line1\r\nline2";
    ASSERT_TRUE(control.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(control.acGGpName(0, "Description"), "a"); // up to the inner separator
    EXPECT_EQ(control.acGGpCount(), 2);                  // the CR LF inside splits a line
    EXPECT_EQ(control.acGGpName(2, "Name"), "line2");
    EXPECT_EQ(control.acGGpName(2, "Other"), "");
    try {
        control.acGGpName(2, "Description");
        FAIL() << "no separator on that line";
    } catch (const quill::RuntimeError& e) {
        EXPECT_EQ(e.number(), 9);
    }
}

TEST_F(ADSIControlTest, GroupNumbersOutsideTheListRaiseNine) {
    ASSERT_TRUE(control.acGroubalGroupGet("nobody"));
    EXPECT_EQ(control.groupList(), "");
    EXPECT_EQ(control.acGGpCount(), -1);
    for (const char* type : {"Name", "Description", "Other"}) {
        try {
            control.acGGpName(0, type);
            ADD_FAILURE() << type;
        } catch (const quill::RuntimeError& e) {
            EXPECT_EQ(e.number(), 9);
        }
    }
    ASSERT_TRUE(control.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(control.acGGpName(1, "Name"), "Staff"); // the new list, not the empty one read before
    EXPECT_THROW(control.acGGpName(2, "Name"), quill::RuntimeError);
    EXPECT_THROW(control.acGGpName(-1, "Name"), quill::RuntimeError);
    // The error must not be a directory error that ADSIControl itself would have swallowed.
    try {
        control.acGGpName(5, "Name");
    } catch (const directory::Error&) {
        ADD_FAILURE() << "raised as a directory error";
    } catch (const quill::RuntimeError&) {
    }
}

TEST_F(ADSIControlTest, EmptyAccountReadsNoGroupsAndTouchesNothing) {
    ASSERT_TRUE(control.acGroubalGroupGet("jdoe"));
    EXPECT_FALSE(control.acGroubalGroupGet(""));
    EXPECT_EQ(control.groupList(), "");
    EXPECT_EQ(dir.count("bind"), 1u);
    EXPECT_EQ(op.busySwitches.size(), 2u);
}

TEST_F(ADSIControlTest, FailedGroupReadKeepsWhatWasAppended) {
    dir.failOn = "get Group.Description";
    EXPECT_FALSE(control.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(control.groupList(), "Users/*s*/");
    expectPointerRestored();
}

TEST_F(ADSIControlTest, MembershipChangesPassTheUsersFullPathWithoutCommit) {
    ASSERT_TRUE(control.acGroubalGroupGet("jdoe"));
    EXPECT_EQ(control.acGGpCount(), 1);
    EXPECT_TRUE(control.AddGlobalGroup("nobody", "Staff"));
    EXPECT_EQ(control.acGGpCount(), -1); // the list must be read again
    EXPECT_EQ(dir.groups["CORP"]["Staff"].members, (std::vector<std::string>{"WinNT://CORP/nobody,User"}));
    EXPECT_TRUE(control.DelGlobalGroup("nobody", "Staff"));
    EXPECT_TRUE(dir.groups["CORP"]["Staff"].members.empty());
    EXPECT_EQ(dir.count("SetInfo"), 0u);
    EXPECT_EQ(dir.matching("bind WinNT://CORP/Staff"),
              (Log{"bind WinNT://CORP/Staff,Group", "bind WinNT://CORP/Staff,Group"}));
    EXPECT_FALSE(control.AddGlobalGroup("nobody", "NoSuchGroup"));
    dir.failOn = "Remove";
    EXPECT_FALSE(control.DelGlobalGroup("nobody", "Staff"));
    expectPointerRestored();
}

TEST_F(ADSIControlTest, OnlyWellFormedFullWidthDigitsReadAsNumbers) {
    std::vector<directory::ADUserRecord> users(2);
    users[1].Name = "second";
    control.setUserTable(users, 0);
    for (const char* key : {"\xEF<Q", "\xEF\xBC\x11", "\xEF\x3C\x91"}) // U+FF11's bits, bytes not UTF-8
        EXPECT_EQ(control.PickUserData(key, "Name"), "False") << key;
    EXPECT_EQ(control.PickUserData("\xEF\xBC\x91", "Name"), "second"); // "１"
}

} // namespace
