#include <gtest/gtest.h>

#include "directory/date_text.h"

using directory::CivilDate;
using directory::parseDateText;

struct DateRow {
    const char* name;
    const char* text;
    std::optional<CivilDate> expected;
};

class DateTexts : public testing::TestWithParam<DateRow> {};

TEST_P(DateTexts, ParseOrAreRefused) {
    EXPECT_EQ(parseDateText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DateTexts,
    testing::Values(
        DateRow{"slashes_no_zeros", "2027/1/25", CivilDate{2027, 1, 25}},
        DateRow{"iso", "2025-01-15", CivilDate{2025, 1, 15}},
        DateRow{"slashes_zeros", "2025/01/15", CivilDate{2025, 1, 15}},
        DateRow{"dots", "2025.1.15", CivilDate{2025, 1, 15}},
        DateRow{"spaces_around", "  2025/1/15 ", CivilDate{2025, 1, 15}},
        DateRow{"full_width", "２０２５／１／１５", CivilDate{2025, 1, 15}},
        DateRow{"kanji", "2025年1月15日", CivilDate{2025, 1, 15}},
        DateRow{"kanji_without_day_mark", "2025年1月15", CivilDate{2025, 1, 15}},
        DateRow{"leap_day", "2028/2/29", CivilDate{2028, 2, 29}},
        DateRow{"past", "1999/12/31", CivilDate{1999, 12, 31}}, DateRow{"empty", "", std::nullopt},
        DateRow{"blank", "   ", std::nullopt}, DateRow{"letters", "abc", std::nullopt},
        DateRow{"feb_30", "2025/2/30", std::nullopt}, DateRow{"not_leap", "2027/2/29", std::nullopt},
        DateRow{"century_not_leap", "2100/2/29", std::nullopt}, DateRow{"month_13", "2025/13/1", std::nullopt},
        DateRow{"month_0", "2025/0/1", std::nullopt}, DateRow{"day_0", "2025/1/0", std::nullopt},
        DateRow{"day_32", "2025/1/32", std::nullopt}, DateRow{"mixed_separators", "2025/1-15", std::nullopt},
        DateRow{"two_digit_year", "25/1/15", std::nullopt}, DateRow{"five_digit_year", "20251/1/15", std::nullopt},
        DateRow{"before_1601", "1600/12/31", std::nullopt}, DateRow{"trailing_text", "2025/1/15x", std::nullopt},
        DateRow{"three_digit_month", "2025/001/15", std::nullopt},
        DateRow{"huge_number", "99999999999999999999/1/1", std::nullopt},
        DateRow{"time_part", "2025/1/15 10:00", std::nullopt}, DateRow{"invalid_utf8", "2025/1/1\xff", std::nullopt},
        DateRow{"truncated_utf8", "2025/1/1\xe5", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct TomorrowRow {
    const char* name;
    CivilDate today;
    const char* tomorrow;
};

class Tomorrow : public testing::TestWithParam<TomorrowRow> {};

TEST_P(Tomorrow, IsWrittenWithoutLeadingZerosAndReadsBack) {
    const auto& row = GetParam();
    const std::string text = directory::formatYmd(directory::addDays(row.today, 1));
    EXPECT_EQ(text, row.tomorrow);
    // What the load handler proposes must count as a date for the enable handler.
    EXPECT_TRUE(parseDateText(text).has_value());
}

INSTANTIATE_TEST_SUITE_P(Days, Tomorrow,
                         testing::Values(TomorrowRow{"ordinary", {2026, 12, 7}, "2026/12/8"},
                                         TomorrowRow{"year_end", {2026, 12, 31}, "2027/1/1"},
                                         TomorrowRow{"month_end_no_zeros", {2027, 1, 24}, "2027/1/25"},
                                         TomorrowRow{"feb_28_common", {2027, 2, 28}, "2027/3/1"},
                                         TomorrowRow{"feb_28_leap", {2028, 2, 28}, "2028/2/29"},
                                         TomorrowRow{"feb_29_leap", {2028, 2, 29}, "2028/3/1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CivilDays, RoundTripAcrossCenturies) {
    for (long long day = -200000; day <= 200000; day += 97) {
        const CivilDate date = directory::civilFromDays(day);
        ASSERT_TRUE(directory::isValidDate(date.year, date.month, date.day)) << day;
        ASSERT_EQ(directory::daysFromCivil(date), day);
    }
    EXPECT_EQ(directory::daysFromCivil({1970, 1, 1}), 0);
    EXPECT_EQ(directory::daysFromCivil({2000, 3, 1}), 11017);
}
