#include <windows.h>

#include <gtest/gtest.h>

#include "app/lock_opener.h"
#include "fake_directory.h"
#include "test_support.h"

namespace {

struct DateRow {
    const char* name;
    const char* text;
    bool dateUsed;
};

void PrintTo(const DateRow& row, std::ostream* out) {
    *out << row.name;
}

class JapaneseExpiry : public testing::TestWithParam<DateRow> {};

// What the enable handler writes is what the provider's own conversion (VarDateFromStr, the user's
// locale) takes as a date; rows marked in docs/verifying-on-windows.md need Windows to confirm.
TEST_P(JapaneseExpiry, DateUsedAsTypedOrNoLimit) {
    ASSERT_EQ(GetUserDefaultLCID(), 0x411u) << "needs the Japanese locale, as tests/run-win32.sh sets it";
    fakes::FakeDirectory dir;
    dir.account("CORP", "jdoe").disabled = true;
    fakes::FakeComputerSystem computer;
    fakes::ScriptedOperator person;
    fakes::FixedClock clock;
    app::Form form;
    const std::string commandLine;
    app::LockOpener window(form, app::Environment{dir, computer, person, clock}, commandLine);
    form.setText("account_Combo", "jdoe");
    form.setText("AccountLimit", GetParam().text);
    ASSERT_TRUE(window.dispatch("アカウント有効", app::Event::Click));

    const std::string typed = GetParam().text;
    EXPECT_FALSE(dir.account("CORP", "jdoe").disabled);
    EXPECT_EQ(dir.account("CORP", "jdoe").expiration,
              GetParam().dateUsed ? directory::Value::text(typed) : directory::Value::int32(1));
    EXPECT_EQ(person.shown.back().text,
              GetParam().dateUsed ? typed + " 迄 利用可能になりました。" : "アカウントは無期限に有効となりました。");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JapaneseExpiry,
    testing::Values(DateRow{"ProposedTomorrow", "2026/12/8", true}, DateRow{"TwoDigitYear", "26/12/9", true},
                    DateRow{"WithTimeOfDay", "2026/12/9 17:00", true}, DateRow{"MonthAndDayOnly", "12/9", true},
                    DateRow{"Hyphens", "2026-12-09", true}, DateRow{"SpacesAround", " 2026/12/9 ", true},
                    DateRow{"TimeOnly", "17:00", true}, DateRow{"DotsBetweenParts", "2026.12.9", false},
                    DateRow{"ImpossibleDay", "2025/2/30", false}, DateRow{"KanjiYearMonthDay", "2027年1月25日", false},
                    DateRow{"FullWidthDigits", "２０２７/１/２５", false}, DateRow{"Letters", "abc", false},
                    DateRow{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
