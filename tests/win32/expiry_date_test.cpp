#include <windows.h>

#include <gtest/gtest.h>

#include "app/lock_opener.h"
#include "fake_directory.h"
#include "test_support.h"

namespace {

// The enable handler writes a date exactly when the provider's own conversion (VarDateFromStr, the
// user's locale) takes the text as one; docs/verifying-on-windows.md lists the rows Windows must
// confirm. The unit suite's rows run through the same conversion here.
TEST(JapaneseExpiry, DateUsedAsTypedOrNoLimit) {
    ASSERT_EQ(GetUserDefaultLCID(), 0x411u) << "needs the Japanese locale, as tests/run-win32.sh sets it";
    const struct {
        const char* name;
        std::string text;
        bool dateUsed;
    } rows[] = {{"ProposedTomorrow", "2026/12/8", true},
                {"TwoDigitYear", "26/12/9", true},
                {"WithTimeOfDay", "2026/12/9 17:00", true},
                {"MonthAndDayOnly", "12/9", true},
                {"TimeOnly", "17:00", true},
                {"DotsBetweenParts", "2026.12.9", false},
                {"ImpossibleDay", "2025/2/30", false},
                {"KanjiYearMonthDay", "2027年1月25日", false},
                {"FullWidthDigits", "２０２７/１/２５", false},
                {"Empty", "", false}};
    fakes::FakeDirectory dir;
    fakes::FakeComputerSystem computer;
    fakes::ScriptedOperator person;
    fakes::FixedClock clock;
    app::Form form;
    const std::string commandLine;
    app::LockOpener window(form, app::Environment{dir, computer, person, clock}, commandLine);
    dir.account("CORP", "jdoe");
    form.setText("account_Combo", "jdoe");
    for (const auto& row : rows) {
        form.setText("AccountLimit", row.text);
        ASSERT_TRUE(window.dispatch("アカウント有効", app::Event::Click)) << row.name;
        EXPECT_EQ(dir.account("CORP", "jdoe").expiration,
                  row.dateUsed ? directory::Value::text(row.text) : directory::Value::int32(1))
            << row.name;
        EXPECT_EQ(person.shown.back().text,
                  row.dateUsed ? row.text + " 迄 利用可能になりました。" : "アカウントは無期限に有効となりました。")
            << row.name;
    }
}

} // namespace
