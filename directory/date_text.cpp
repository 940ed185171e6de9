#include "date_text.h"

#include <array>

namespace directory {

bool isValidDate(int year, int month, int day) noexcept {
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = (month == 2 && leap) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
    return day <= last;
}

// Howard Hinnant's days_from_civil / civil_from_days.
long long daysFromCivil(CivilDate date) noexcept {
    const long long y = date.year - (date.month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long mp = (date.month + 9) % 12;
    const long long doy = (153 * mp + 2) / 5 + date.day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(long long z) noexcept {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

CivilDate addDays(CivilDate date, int days) noexcept {
    return civilFromDays(daysFromCivil(date) + days);
}

std::string formatYmd(CivilDate date) {
    return std::to_string(date.year) + "/" + std::to_string(date.month) + "/" + std::to_string(date.day);
}

namespace {

// Folds the full-width forms a Japanese input method produces into ASCII, and the 年/月/日 form
// into separators. Returns false for anything that cannot be part of a date.
bool normalise(std::string_view in, std::string& out) noexcept {
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (i + 3 > in.size())
            return false;
        const std::string_view seq = in.substr(i, 3);
        const auto b2 = static_cast<unsigned char>(seq[2]);
        if (seq[0] == '\xEF' && seq[1] == '\xBC' && b2 >= 0x90 && b2 <= 0x99)
            out += static_cast<char>('0' + (b2 - 0x90)); // full-width digit
        else if (seq == "\xEF\xBC\x8F")                  // ／
            out += '/';
        else if (seq == "\xEF\xBC\x8D") // －
            out += '-';
        else if (seq == "\xEF\xBC\x8E") // ．
            out += '.';
        else if (seq == "\xE3\x80\x80") // ideographic space
            out += ' ';
        else if (seq == "\xE5\xB9\xB4") // 年
            out += 'Y';
        else if (seq == "\xE6\x9C\x88") // 月
            out += 'M';
        else if (seq == "\xE6\x97\xA5") // 日
            out += 'D';
        else
            return false;
        i += 3;
    }
    return true;
}

// Reads 1..maxDigits decimal digits.
bool readNumber(std::string_view s, std::size_t& pos, std::size_t maxDigits, int& value) noexcept {
    const std::size_t start = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (pos - start == maxDigits)
            return false;
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return pos > start;
}

} // namespace

std::optional<CivilDate> parseDateText(std::string_view text) noexcept {
    std::string s;
    try {
        if (!normalise(text, s))
            return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    const auto last = s.find_last_not_of(' ');
    const std::string_view body = std::string_view(s).substr(first, last - first + 1);

    CivilDate date;
    std::size_t pos = 0;
    if (!readNumber(body, pos, 4, date.year) || pos != 4 || pos >= body.size())
        return std::nullopt;
    const char sep = body[pos];
    const bool kanji = sep == 'Y';
    if (!kanji && sep != '/' && sep != '-' && sep != '.')
        return std::nullopt;
    ++pos;
    if (!readNumber(body, pos, 2, date.month) || pos >= body.size())
        return std::nullopt;
    if (body[pos] != (kanji ? 'M' : sep))
        return std::nullopt;
    ++pos;
    if (!readNumber(body, pos, 2, date.day))
        return std::nullopt;
    if (kanji && pos < body.size() && body[pos] == 'D')
        ++pos;
    if (pos != body.size())
        return std::nullopt;
    if (date.year < 1601 || !isValidDate(date.year, date.month, date.day))
        return std::nullopt;
    return date;
}

} // namespace directory
