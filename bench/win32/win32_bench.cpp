#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_module.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "fake_directory.h"
#include "system/win32/com_apartment.h"
#include "test_support.h"

namespace {

// This process's processor time, user and kernel, in milliseconds.
double processorMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return static_cast<double>(static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// The Win32 window's load with COUNT accounts in an in-memory domain: Form_Load (the listing) and
// the first show, which fills the account box. Prints the median of ROUNDS rounds, wall clock and
// this process's processor time per load.
//   quill_win32_bench COUNT [ROUNDS]
int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const quill::win32::ComApartment com;
    fakes::FakeDirectory directory;
    directory.accounts["CORP"];
    auto& names = directory.listing["CORP"];
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "user%06d", i);
        names.emplace_back(name);
        directory.account("CORP", name);
    }
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    quill::win32::Win32Operator person;

    // Small sizes load several times per round, so that every round lists about 50,000 names and
    // the processor time (counted in clock ticks) stays well above its resolution.
    const int loads = std::max(1, 50000 / std::max(count, 1));
    std::vector<double> wall, processor;
    for (int round = 0; round < rounds; ++round) {
        const double cpuBefore = processorMs();
        const auto start = std::chrono::steady_clock::now();
        for (int load = 0; load < loads; ++load) {
            directory.log.clear();
            app::Main_Module module(app::Environment{directory, computer, person, clock});
            quill::win32::MainWindow window(GetModuleHandleW(nullptr), &person);
            if (!module.Main("", window))
                return 1;
            const auto listed = SendMessageW(window.control("account_Combo"), CB_GETCOUNT, 0, 0);
            if (listed != count) {
                std::fprintf(stderr, "the box lists %ld of %d names\n", static_cast<long>(listed), count);
                return 1;
            }
        }
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                       loads);
        processor.push_back((processorMs() - cpuBefore) / loads);
    }
    std::printf("names %d load_ms %.2f cpu_ms %.2f\n", count, median(wall), median(processor));
    return 0;
}
