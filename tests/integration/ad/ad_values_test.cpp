#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "directory/error.h"
#include "directory/ldap/ad_values.h"

using directory::CivilDate;
using namespace ldapdir;

namespace {

// Sets TZ for one test and restores the previous zone afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (m_old.empty())
            unsetenv("TZ");
        else
            setenv("TZ", m_old.c_str(), 1);
        tzset();
    }

private:
    std::string m_old;
};

constexpr std::int64_t kSecond = 10'000'000;
// 2027-01-01T00:00:00Z in 100-ns intervals since 1601.
constexpr std::int64_t k2027 = (1798761600LL + 11644473600LL) * kSecond;

struct ExpiryRow {
    const char* name;
    const char* zone;
    CivilDate lastDay;
    std::int64_t expected; // the start of the next local day, in UTC
};

class AccountExpires : public testing::TestWithParam<ExpiryRow> {};

TEST_P(AccountExpires, IsTheStartOfTheNextLocalDay) {
    const auto& row = GetParam();
    const TimeZone zone(row.zone);
    EXPECT_EQ(accountExpiresAfter(row.lastDay), row.expected);
    EXPECT_EQ(lastUsableDay(row.expected), row.lastDay);
}

// Central Europe: summer time starts 2027-03-28 02:00 and ends 2027-10-31 03:00.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr std::int64_t kDay = 86400 * kSecond;
constexpr std::int64_t kHour = 3600 * kSecond;
constexpr std::int64_t k20270327 = k2027 + 85 * kDay; // 2027-03-27T00:00Z

INSTANTIATE_TEST_SUITE_P(
    Zones, AccountExpires,
    testing::Values(ExpiryRow{"Utc", "UTC0", {2026, 12, 31}, k2027},
                    ExpiryRow{"Tokyo", "JST-9", {2026, 12, 31}, k2027 - 9 * kHour},
                    // The night before the change still starts at UTC+1 ...
                    ExpiryRow{"BeforeSummerTime", kBerlin, {2027, 3, 27}, k20270327 + kDay - kHour},
                    // ... the day of the change is 23 hours long, and the next one starts at UTC+2.
                    ExpiryRow{"SummerTimeDay", kBerlin, {2027, 3, 28}, k20270327 + 2 * kDay - 2 * kHour},
                    ExpiryRow{"YearEnd", "UTC0", {9999, 12, 31}, (253402300800LL + 11644473600LL) * kSecond}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AccountExpiresNever, ZeroAndMaximumReadAsNever) {
    EXPECT_EQ(lastUsableDay(0), std::nullopt);
    EXPECT_EQ(lastUsableDay(kNeverExpires), std::nullopt);
    EXPECT_EQ(kNeverExpires, 9223372036854775807LL);
}

struct PasswordRow {
    const char* name;
    std::string utf8;
    std::u16string expected; // without the quotes
};

class PasswordValue : public testing::TestWithParam<PasswordRow> {};

TEST_P(PasswordValue, IsQuotedUtf16LittleEndian) {
    std::string out;
    encodePassword(GetParam().utf8, out);
    std::string expected;
    for (const char16_t unit : u"\"" + GetParam().expected + u"\"") {
        expected += static_cast<char>(unit & 0xFF);
        expected += static_cast<char>(unit >> 8);
    }
    EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, PasswordValue,
                         testing::Values(PasswordRow{"Ascii", "Pa ss1!", u"Pa ss1!"}, PasswordRow{"Empty", "", u""},
                                         PasswordRow{"Japanese", "パス語", u"パス語"},
                                         PasswordRow{"OutsideBmp", "a\xF0\x9F\x94\x91", u"a\U0001F511"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PasswordValueInvalid, MalformedUtf8IsRefused) {
    for (const std::string& bad : {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                   std::string("ab\xFF"), std::string("\xE3\x81")}) {
        std::string out;
        EXPECT_THROW(encodePassword(bad, out), directory::Error) << testing::PrintToString(bad);
    }
}

TEST(FilterValues, SpecialCharactersAreEscaped) {
    EXPECT_EQ(escapeFilterValue("a*b(c)d\\e"), "a\\2ab\\28c\\29d\\5ce");
    EXPECT_EQ(escapeFilterValue(std::string("x\0y", 3)), "x\\00y");
    EXPECT_EQ(escapeFilterValue("山田"), "山田");
    EXPECT_EQ(escapeFilterBytes(std::string("\x01\xff", 2)), "\\01\\ff");
}

TEST(AccountKinds, SamAccountTypeTellsUsersFromGroupsAndComputers) {
    const std::vector<std::pair<const char*, AccountKind>> rows{
        {"805306368", AccountKind::User},   {"805306369", AccountKind::Other}, // a computer
        {"268435456", AccountKind::Group},  {"268435457", AccountKind::Group},     {"536870912", AccountKind::Group},
        {"536870913", AccountKind::Group},  {"805306370", AccountKind::Other},     {"", AccountKind::Other},
        {"x", AccountKind::Other},          {"805306368\x01", AccountKind::Other}, // damaged, not a user
        {"805306368 ", AccountKind::Other},
    };
    for (const auto& [text, kind] : rows)
        EXPECT_EQ(accountKind(text), kind) << text;
}

TEST(AccountControl, OnlyWhole32BitIntegersAreFlags) {
    const std::vector<std::pair<const char*, std::optional<std::uint32_t>>> rows{
        {"512", 512u},          {"66050", 66050u},    {"-2147483648", 0x80000000u}, {"4294967295", 0xFFFFFFFFu},
        {"-1", 0xFFFFFFFFu},    {"", std::nullopt},   {"4294967296", std::nullopt}, {"-2147483649", std::nullopt},
        {"514x", std::nullopt}, {" 2", std::nullopt},
    };
    for (const auto& [text, flags] : rows)
        EXPECT_EQ(parseAccountControl(text), flags) << text;
}

TEST(Sids, PrimaryGroupSidAppendsTheRid) {
    // S-1-5-21-1-2-3
    const std::string domain("\x01\x04\x00\x00\x00\x00\x00\x05\x15\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00"
                             "\x03\x00\x00\x00",
                             24);
    const auto sid = sidWithRid(domain, 513);
    ASSERT_TRUE(sid);
    EXPECT_EQ(*sid, domain.substr(0, 1) + '\x05' + domain.substr(2) + std::string("\x01\x02\x00\x00", 4));
    EXPECT_FALSE(sidWithRid(domain.substr(0, 20), 513)); // count says 4 sub-authorities, 3 present
    EXPECT_FALSE(sidWithRid("", 513));
}

} // namespace
