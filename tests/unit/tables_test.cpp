#include <gtest/gtest.h>

#include <functional>

#include "directory/adsi_control.h"
#include "fake_directory.h"
#include "test_support.h"

using directory::ADGroupRecord;
using directory::ADSIControl;
using directory::ADUserRecord;

namespace {

// The number of the runtime error the call raises, or 0 when it answers.
long errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const quill::RuntimeError& e) {
        return e.number();
    }
    return 0;
}

class Tables : public testing::Test {
protected:
    void fill() {
        std::vector<ADUserRecord> users(3);
        users[0].Name = "alice";
        users[1].Name = "bob";
        users[1].AccountDisabled = true;
        users[1].PasswordMinimumLength = 8;
        users[2].Name = "carol";
        users[2].Description = "third";
        users[2].PasswordMinimumLength = -3;
        control.setUserTable(std::move(users));
        control.setGroupTable({{"Users", "Ordinary users"}, {"Staff", ""}});
    }

    fakes::FakeDirectory dir;
    fakes::ScriptedOperator op;
    ADSIControl control{dir, op};
};

TEST_F(Tables, AbsentTablesRaiseNineAndOverflowComesFirst) {
    EXPECT_EQ(errorOf([&] { control.ADCount(); }), 9);
    EXPECT_EQ(errorOf([&] { control.GroupCount(); }), 9);
    for (const char* key : {"0", "1", "alice", "", "-1"})
        EXPECT_EQ(errorOf([&] { control.PickUserData(key, "Name"); }), 9) << key;
    EXPECT_EQ(errorOf([&] { control.PickUserData("alice", "Nonsense"); }), 9);
    EXPECT_EQ(errorOf([&] { control.PickUserData("99999999999", "Name"); }), 6);
    EXPECT_EQ(errorOf([&] { control.PickGroupData(0, "Name"); }), 9);
    EXPECT_EQ(errorOf([&] { control.PickGroupData(0, "Description"); }), 9);
    EXPECT_EQ(control.PickGroupData(0, "Other"), "False");
    EXPECT_TRUE(dir.log.empty()); // the tables never reach the directory
}

TEST_F(Tables, CountsAreUpperBounds) {
    fill();
    EXPECT_EQ(control.ADCount(), 2);
    EXPECT_EQ(control.GroupCount(), 1);
    control.setUserTable({}, 0);
    EXPECT_EQ(control.ADCount(), -1);
    control.setUserTable(std::vector<ADUserRecord>(2), 5);
    EXPECT_EQ(control.ADCount(), 6);
}

struct PickRow {
    const char* name;
    const char* key;
    const char* type;
    const char* expected; // nullptr: raises
    long error;
};

class Pick : public Tables, public testing::WithParamInterface<PickRow> {};

TEST_P(Pick, AnswersOrRaises) {
    fill();
    const auto& row = GetParam();
    if (row.expected) {
        EXPECT_EQ(control.PickUserData(row.key, row.type), row.expected);
    } else {
        EXPECT_EQ(errorOf([&] { control.PickUserData(row.key, row.type); }), row.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Pick,
                         testing::Values(PickRow{"index", "1", "Name", "bob", 0},
                                         PickRow{"by_name", "carol", "Description", "third", 0},
                                         PickRow{"bool_true", "bob", "AccountDisabled", "True", 0},
                                         PickRow{"bool_false", "alice", "IsAccountLocked", "False", 0},
                                         PickRow{"integer", "bob", "PasswordMinimumLength", "8", 0},
                                         PickRow{"negative_integer", "2", "PasswordMinimumLength", "-3", 0},
                                         PickRow{"above_upper_bound", "3", "Name", "False", 0},
                                         PickRow{"below_lower_bound", "-1", "Name", nullptr, 9},
                                         PickRow{"below_lower_bound_unknown_field", "-1", "Nonsense", "False", 0},
                                         PickRow{"half_rounds_to_even_up", "1.5", "Name", "carol", 0},
                                         PickRow{"half_rounds_to_even_down", "2.5", "Name", "carol", 0},
                                         PickRow{"half_rounds_to_zero", "0.5", "Name", "alice", 0},
                                         PickRow{"full_width_digit", "１", "Name", "bob", 0},
                                         PickRow{"spaces_around_number", " 2 ", "Name", "carol", 0},
                                         PickRow{"exponent", "1e0", "Name", "bob", 0},
                                         PickRow{"overflow", "2147483648", "Name", nullptr, 6},
                                         PickRow{"negative_overflow", "-2147483649", "Name", nullptr, 6},
                                         PickRow{"huge_exponent", "1e400", "Name", nullptr, 6},
                                         PickRow{"no_such_name", "dave", "Name", "False", 0},
                                         PickRow{"selector_is_case_sensitive", "alice", "name", "False", 0},
                                         PickRow{"name_is_not_trimmed", " alice", "Name", "False", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Tables, DuplicateNamesAnswerFromTheLowerIndexAndOddBoundsWork) {
    std::vector<ADUserRecord> users(3);
    users[0].Name = "x";
    users[1].Name = "dup";
    users[1].FullName = "first";
    users[2].Name = "dup";
    users[2].FullName = "second";
    control.setUserTable(users, 1);
    EXPECT_EQ(control.PickUserData("dup", "FullName"), "first");
    EXPECT_EQ(control.PickUserData("x", "Name"), "x"); // found at the lower bound, not before it
    EXPECT_EQ(errorOf([&] { control.PickUserData("0", "Name"); }), 9);
    EXPECT_EQ(control.PickUserData("3", "FullName"), "second");
}

TEST_F(Tables, GroupPicksHaveNoBoundTestBeforeTheRead) {
    fill();
    EXPECT_EQ(control.PickGroupData(0, "Name"), "Users");
    EXPECT_EQ(control.PickGroupData(0, "Description"), "Ordinary users");
    EXPECT_EQ(control.PickGroupData(1, "Description"), "");
    EXPECT_EQ(errorOf([&] { control.PickGroupData(2, "Name"); }), 9);
    EXPECT_EQ(errorOf([&] { control.PickGroupData(-1, "Description"); }), 9);
    EXPECT_EQ(control.PickGroupData(99, "name"), "False");
}

} // namespace
