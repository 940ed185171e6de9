#pragma once

#include "directory/date_text.h"

namespace app {

// Today's date in local time; injectable so tests can start on any day.
class Clock {
public:
    virtual ~Clock() = default;
    virtual directory::CivilDate today() const = 0;
};

class SystemClock final : public Clock {
public:
    directory::CivilDate today() const override;
};

} // namespace app
