#include "account_expiry.h"

#include <ctime>

#include "directory/error.h"

namespace unixacct {

long shadowExpiryDay(directory::CivilDate lastDay) {
    const directory::CivilDate next = directory::addDays(lastDay, 1);
    std::tm local{};
    local.tm_year = next.year - 1900;
    local.tm_mon = next.month - 1;
    local.tm_mday = next.day;
    local.tm_isdst = -1; // let the zone's rules decide, also on the day the clocks change
    const std::time_t midnight = std::mktime(&local);
    if (midnight == static_cast<std::time_t>(-1))
        throw directory::Error(directory::codes::kBadParameter,
                               "この有効期限の日付は扱えません。別の日付を指定してください。");
    constexpr long long kDay = 86400;
    const long long seconds = static_cast<long long>(midnight);
    long long day = seconds / kDay;
    if (seconds % kDay > 0)
        ++day; // round up: never end before the local day does
    return day < 1 ? 1 : static_cast<long>(day);
}

} // namespace unixacct
