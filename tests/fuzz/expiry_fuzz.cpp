#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <ctime>

#include "directory/error.h"
#include "directory/ldap/ad_values.h"
#include "directory/unix/account_expiry.h"
#include "fuzz_check.h"

using directory::CivilDate;

namespace {

// Zones whose clocks change at midnight (so some days have no midnight and some have two), that
// skipped or repeated whole days, sit far from UTC, or change by half an hour or two hours.
constexpr const char* kZones[] = {"UTC",
                                  "Europe/Berlin",
                                  "America/Sao_Paulo",
                                  "America/Havana",
                                  "Asia/Beirut",
                                  "America/Santiago",
                                  "America/Asuncion",
                                  "Asia/Tehran",
                                  "Africa/Cairo",
                                  "Asia/Gaza",
                                  "America/Godthab",
                                  "Pacific/Apia",
                                  "Pacific/Kiritimati",
                                  "Pacific/Pago_Pago",
                                  "America/St_Johns",
                                  "Asia/Kathmandu",
                                  "Australia/Lord_Howe",
                                  "Antarctica/Troll",
                                  "Europe/Dublin",
                                  "America/Juneau",
                                  "Asia/Manila",
                                  "America/Scoresbysund",
                                  "Africa/Casablanca",
                                  "America/Caracas",
                                  "Pacific/Chatham"};

constexpr std::int64_t kTicks = 10'000'000;
constexpr std::int64_t kEpoch = 11'644'473'600;

long long localDayAt(long long seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    FUZZ_CHECK(localtime_r(&t, &local));
    return directory::daysFromCivil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

// Whether the day happens at all in this zone (some were skipped when a zone crossed the date line).
bool dayExists(CivilDate day) {
    const long long target = directory::daysFromCivil(day);
    for (long long t = (target - 1) * 86400; t <= (target + 2) * 86400; t += 900)
        if (localDayAt(t) == target)
            return true;
    return false;
}

} // namespace

// One long-lived process switches zones between inputs, as a desktop session may.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    setenv("TZ", kZones[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kZones) - 1)], 1);
    tzset();
    const int year = in.ConsumeBool() ? in.ConsumeIntegralInRange(1601, 9999) : in.ConsumeIntegralInRange(1840, 2060);
    const CivilDate day = directory::addDays({year, 1, 1}, in.ConsumeIntegralInRange(0, 365));
    const auto anyValue = in.ConsumeIntegral<std::int64_t>();

    // The written value keeps the account usable to the last second of the day, not one second more.
    const std::int64_t written = ldapdir::accountExpiresAfter(day);
    FUZZ_CHECK(written % kTicks == 0);
    const long long end = written / kTicks - kEpoch;
    const long long target = directory::daysFromCivil(day);
    FUZZ_CHECK(localDayAt(end - 1) <= target);
    for (long long t = end; t <= end + 3 * 3600; t += 600)
        FUZZ_CHECK(localDayAt(t) > target);
    // (Looking for the day costs hundreds of conversions, so only when the value read back differs.)
    FUZZ_CHECK(ldapdir::lastUsableDay(written) == day || !dayExists(day));

    // shadow's expiry day is the first UTC day that starts at or after that moment.
    const long shadowDay = unixacct::shadowExpiryDay(day);
    FUZZ_CHECK(shadowDay >= 1);
    FUZZ_CHECK(static_cast<long long>(shadowDay) * 86400 >= end);
    FUZZ_CHECK(shadowDay == 1 || (static_cast<long long>(shadowDay) - 1) * 86400 < end);

    // Any stored value reads as a day that, written back, keeps the account at least as long.
    if (const auto last = ldapdir::lastUsableDay(anyValue)) {
        FUZZ_CHECK(anyValue > 0 && anyValue != ldapdir::kNeverExpires);
        if (last->year >= 1601 && last->year <= 9999)
            FUZZ_CHECK(ldapdir::accountExpiresAfter(*last) >= anyValue / kTicks * kTicks);
    } else {
        FUZZ_CHECK(anyValue <= 0 || anyValue == ldapdir::kNeverExpires);
    }
    return 0;
}
