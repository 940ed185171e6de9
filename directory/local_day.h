#pragma once

#include <optional>

#include "date_text.h"

namespace directory {

// The first moment (seconds since 1970-01-01 UTC) from which the local date in the current time
// zone stays past `day`: the start of the next local day. Also right where that midnight does not
// exist (the clocks jump over it), exists twice, or where the clocks turn back into `day` after it;
// for a day the clocks skip entirely, the end of the day before. Nothing when the C library cannot
// place the day in time.
std::optional<long long> endOfLocalDay(CivilDate day);

} // namespace directory
