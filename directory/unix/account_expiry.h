#pragma once

#include "directory/date_text.h"

namespace unixacct {

// The shadow expiry day (days since 1970-01-01 UTC; the account stops working once the UTC day
// number reaches it) that keeps an account usable through the end of lastDay in the local time
// zone: the first UTC day that begins at or after the next local midnight. East of UTC that is
// simply the day after; west of UTC it is one more, since stopping at the UTC day boundary would
// end the account in the evening of the named day. At least 1, so a date long past never reads
// as "no expiry".
long shadowExpiryDay(directory::CivilDate lastDay);

} // namespace unixacct
