#include "local_day.h"

#include <ctime>

namespace directory {
namespace {

// Seconds either side of the next day's midnight in UTC that surely hold the local one: no zone,
// local mean time included, was ever more than 16 hours from UTC; a day is at most 24 hours long.
constexpr long long kWindow = 40 * 3600;
// No zone changed its clocks twice within this long, so one step crosses at most one change.
constexpr long long kStep = 30 * 60;

// The local calendar day of a moment as a day number, or nothing when it cannot be had.
std::optional<long long> localDay(long long seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return std::nullopt;
    return daysFromCivil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

} // namespace

std::optional<long long> endOfLocalDay(CivilDate day) {
    // mktime cannot answer this: on the night a zone skips or repeats midnight it picks one of
    // the readings, and not always the one that keeps the whole day.
    tzset(); // as mktime does: the zone may have changed since the last call
    const long long target = daysFromCivil(day);
    const long long utcMidnight = (target + 1) * 86400;
    // The last sample still on or before the day; the one after it is past the day.
    long long before = utcMidnight - kWindow;
    for (long long t = before; t <= utcMidnight + kWindow; t += kStep) {
        const auto d = localDay(t);
        if (!d)
            return std::nullopt;
        if (*d <= target)
            before = t;
    }
    // Within the step after it the date changes once: find the last second of the day.
    long long low = before, high = before + kStep; // low is on or before the day, high past it
    while (high - low > 1) {
        const long long middle = low + (high - low) / 2;
        const auto d = localDay(middle);
        if (!d)
            return std::nullopt;
        (*d <= target ? low : high) = middle;
    }
    return high;
}

} // namespace directory
