#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace directory {

struct CivilDate {
    int year = 0;
    int month = 0;
    int day = 0;
    bool operator==(const CivilDate&) const = default;
};

bool isValidDate(int year, int month, int day) noexcept;
CivilDate addDays(CivilDate date, int days) noexcept;
// Days since 1970-01-01 and back.
long long daysFromCivil(CivilDate date) noexcept;
CivilDate civilFromDays(long long days) noexcept;

// year/month/day without leading zeros, the year in full: 2027/1/25.
std::string formatYmd(CivilDate date);

// The date an expiry text names. Accepts year/month/day with "/", "-" or "." between the parts,
// leading zeros or not, full-width digits and separators, and the 2027年1月25日 form; spaces at the
// ends are ignored. Years 1601 to 9999. Anything else, the empty text included, is no date. Never throws.
std::optional<CivilDate> parseDateText(std::string_view text) noexcept;

} // namespace directory
