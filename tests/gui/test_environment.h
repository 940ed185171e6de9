#pragma once

#include <vector>

#include "app/clock.h"
#include "directory/error.h"
#include "system/computer_system.h"

namespace guitest {

// The computer-system query as a test sets it: fixed records, or a failure.
class FixedComputerSystem final : public sysinfo::ComputerSystemQuery {
public:
    std::vector<sysinfo::ComputerSystem> records{{"CORP", "PC01"}};
    bool fail = false;
    int calls = 0;

    std::vector<sysinfo::ComputerSystem> query() override {
        ++calls;
        if (fail)
            throw quill::RuntimeError(-2147217406, "Not found (computer-system query refused)");
        return records;
    }
};

class FixedClock final : public app::Clock {
public:
    directory::CivilDate date{2026, 12, 7};
    directory::CivilDate today() const override { return date; }
};

} // namespace guitest
