#include <fuzzer/FuzzedDataProvider.h>

#include "directory/date_text.h"
#include "fuzz_check.h"

using directory::CivilDate;
using directory::parseDateText;

namespace {

std::string fullWidth(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        if (c >= '0' && c <= '9') {
            out += "\xEF\xBC";
            out += static_cast<char>(0x90 + (c - '0'));
        } else if (c == '/') {
            out += "\xEF\xBC\x8F";
        } else {
            out += c;
        }
    }
    return out;
}

std::string padded(int value, int width) {
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(width) - std::min<std::size_t>(text.size(), width), '0') + text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // A date that parses is a real calendar day in range, and every way of writing it reads back the same.
    if (const auto date = parseDateText(text)) {
        FUZZ_CHECK(date->year >= 1601 && date->year <= 9999);
        FUZZ_CHECK(directory::isValidDate(date->year, date->month, date->day));
        const std::string ymd = directory::formatYmd(*date);
        FUZZ_CHECK(parseDateText(ymd) == date);
        FUZZ_CHECK(parseDateText(fullWidth(ymd)) == date);
        const std::string y = std::to_string(date->year), m = padded(date->month, 2), d = padded(date->day, 2);
        FUZZ_CHECK(parseDateText(" " + y + "-" + m + "-" + d + " ") == date);
        FUZZ_CHECK(parseDateText(y + "\xE5\xB9\xB4" + m + "\xE6\x9C\x88" + d + "\xE6\x97\xA5") == date);
        FUZZ_CHECK(directory::civilFromDays(directory::daysFromCivil(*date)) == date);
    }

    // Calendar arithmetic: a triple is a valid date exactly when it survives the trip through a day
    // number, and adding days then taking them away gives the day back.
    FuzzedDataProvider in(data, size);
    const CivilDate triple{in.ConsumeIntegralInRange(1, 9999), in.ConsumeIntegralInRange(-3, 15),
                           in.ConsumeIntegralInRange(-3, 33)};
    const bool valid = directory::isValidDate(triple.year, triple.month, triple.day);
    if (triple.month >= 1 && triple.month <= 12)
        FUZZ_CHECK(valid == (directory::civilFromDays(directory::daysFromCivil(triple)) == triple));
    if (valid) {
        const int days = in.ConsumeIntegralInRange(-3'000'000, 3'000'000);
        const CivilDate moved = directory::addDays(triple, days);
        FUZZ_CHECK(directory::daysFromCivil(moved) - directory::daysFromCivil(triple) == days);
        FUZZ_CHECK(directory::addDays(moved, -days) == triple);
    }
    return 0;
}
