#include "account_expiry.h"

#include "directory/error.h"
#include "directory/local_day.h"

namespace unixacct {

long shadowExpiryDay(directory::CivilDate lastDay) {
    const auto end = directory::endOfLocalDay(lastDay);
    if (!end)
        throw directory::Error(directory::codes::kBadParameter,
                               "この有効期限の日付は扱えません。別の日付を指定してください。");
    constexpr long long kDay = 86400;
    const long long seconds = *end;
    long long day = seconds / kDay;
    if (seconds % kDay > 0)
        ++day; // round up: never end before the local day does
    return day < 1 ? 1 : static_cast<long>(day);
}

} // namespace unixacct
