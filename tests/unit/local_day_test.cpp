#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "directory/local_day.h"

using directory::CivilDate;
using directory::endOfLocalDay;

namespace {

void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

struct DayEndRow {
    const char* name;
    const char* zone;
    CivilDate day;
    long long end; // seconds since 1970 UTC
};

// Rows print as their names in test listings.
void PrintTo(const DayEndRow& row, std::ostream* out) {
    *out << row.name;
}

class LocalDayEnd : public testing::TestWithParam<DayEndRow> {
protected:
    void TearDown() override { unsetenv("TZ"), tzset(); }
};

// The answer may not depend on the zones the process used before: the C library's mktime keeps a
// guess from its last call, and a session may change zones while it runs.
TEST_P(LocalDayEnd, IsTheLastMomentOfTheDayWhateverZoneCameBefore) {
    const auto& row = GetParam();
    for (const char* before : {"UTC", "Pacific/Pago_Pago", "America/Juneau", "Asia/Tokyo", "Pacific/Kiritimati"}) {
        useZone(before);
        (void)endOfLocalDay({2000, 6, 1});
        useZone(row.zone);
        EXPECT_EQ(endOfLocalDay(row.day), row.end) << "after " << before;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Zones, LocalDayEnd,
    testing::Values(DayEndRow{"Tokyo", "Asia/Tokyo", {2026, 12, 31}, 1798729200},
                    // Clocks turn back from 01:00 to midnight: the day ends at the first midnight.
                    DayEndRow{"HavanaMidnightTwice", "America/Havana", {2026, 10, 31}, 1793505600},
                    DayEndRow{"SantiagoMidnightTwice", "America/Santiago", {2026, 4, 4}, 1775361600},
                    // Clocks jump from midnight to 01:00: the day ends when the next one starts.
                    DayEndRow{"SaoPauloNoMidnight", "America/Sao_Paulo", {2018, 11, 3}, 1541300400},
                    // Clocks turn back from midnight into the day: it ends at the second midnight.
                    DayEndRow{"BeirutDayOf25Hours", "Asia/Beirut", {2026, 10, 24}, 1792879200},
                    // Samoa skipped 2011-12-30: the 29th ends when the 31st begins, and so does the 30th.
                    DayEndRow{"ApiaBeforeSkippedDay", "Pacific/Apia", {2011, 12, 29}, 1325239200},
                    DayEndRow{"ApiaSkippedDay", "Pacific/Apia", {2011, 12, 30}, 1325239200}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
