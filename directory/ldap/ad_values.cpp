#include "ad_values.h"

#include <charconv>
#include <ctime>

#include "directory/error.h"
#include "directory/local_day.h"

namespace ldapdir {

namespace {

constexpr std::int64_t kIntervalsPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11'644'473'600;

// Decodes one code point; returns false on malformed, overlong or surrogate sequences.
bool nextCodePoint(std::string_view text, std::size_t& i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int extra = 0;
    if (lead < 0x80) {
        cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F;
        extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        cp = lead & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (i + extra >= text.size())
        return false;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += extra + 1;
    return true;
}

void putUnit(std::string& out, std::size_t& at, char16_t unit) {
    out[at++] = static_cast<char>(unit & 0xFF);
    out[at++] = static_cast<char>(unit >> 8);
}

} // namespace

AccountKind accountKind(std::string_view samAccountType) {
    const auto type = parseAccountControl(samAccountType); // the same 32-bit integer syntax
    if (!type)
        return AccountKind::Other;
    switch (*type) {
    case 0x30000000: // SAM_USER_OBJECT; computers (0x30000001) and trusts are no users here
        return AccountKind::User;
    case 0x10000000: // global and universal groups, security and distribution
    case 0x10000001:
    case 0x20000000: // domain local groups
    case 0x20000001:
        return AccountKind::Group;
    default:
        return AccountKind::Other;
    }
}

std::optional<std::uint32_t> parseAccountControl(std::string_view text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::int64_t accountExpiresAfter(directory::CivilDate lastDay) {
    const auto end = directory::endOfLocalDay(lastDay);
    if (!end)
        throw directory::Error(directory::codes::kBadParameter, "日付を時刻に変換できません。");
    return (*end + kEpochDifference) * kIntervalsPerSecond;
}

std::optional<directory::CivilDate> lastUsableDay(std::int64_t accountExpires) {
    if (accountExpires <= 0 || accountExpires == kNeverExpires)
        return std::nullopt;
    // The value is the first moment the account is no longer usable; the day before it counts.
    const std::time_t end = static_cast<std::time_t>(accountExpires / kIntervalsPerSecond - kEpochDifference - 1);
    std::tm local{};
    if (!localtime_r(&end, &local))
        return std::nullopt;
    return directory::CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string escapeFilterValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '*' || c == '(' || c == ')' || c == '\\' || u == 0) {
            out += '\\';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string escapeFilterBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += '\\';
        out += kHex[u >> 4];
        out += kHex[u & 0xF];
    }
    return out;
}

std::optional<std::string> sidWithRid(std::string_view domainSid, std::uint32_t rid) {
    // revision, sub-authority count, 6-byte authority, then count x 4-byte little-endian sub-authorities
    if (domainSid.size() < 8 || domainSid[0] != 1)
        return std::nullopt;
    const auto count = static_cast<unsigned char>(domainSid[1]);
    if (count >= 15 || domainSid.size() != 8 + 4 * static_cast<std::size_t>(count))
        return std::nullopt;
    std::string sid(domainSid);
    sid[1] = static_cast<char>(count + 1);
    for (int k = 0; k < 4; ++k)
        sid += static_cast<char>((rid >> (8 * k)) & 0xFF);
    return sid;
}

void encodePassword(std::string_view utf8, std::string& out) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        if (!nextCodePoint(utf8, i, cp))
            throw directory::Error(directory::codes::kInvalidArg,
                                   "パスワードが UTF-8 の文字列として正しくありません。");
        units += cp >= 0x10000 ? 2 : 1;
    }
    out.assign((units + 2) * 2, '\0');
    std::size_t at = 0;
    putUnit(out, at, u'"');
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        nextCodePoint(utf8, i, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putUnit(out, at, static_cast<char16_t>(0xD800 + (cp >> 10)));
            putUnit(out, at, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            putUnit(out, at, static_cast<char16_t>(cp));
        }
    }
    putUnit(out, at, u'"');
}

} // namespace ldapdir
