#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "directory/error.h"
#include "directory/unix/account_expiry.h"
#include "directory/unix/account_name.h"
#include "directory/unix/faillock.h"
#include "temp_dir.h"
#include "tz_guard.h"

namespace {

using namespace unixacct;

TEST(AccountName, OnlyNamesThatStayOneArgumentAndOneField) {
    struct Row {
        std::string name;
        bool safe;
    };
    const Row rows[] = {
        {"alice", true},
        {"svc_backup-01", true},
        {"user.name", true},
        {"yamada太郎", true},
        {"Administrator$", true},
        {std::string(32, 'a'), true},
        {std::string(33, 'a'), false},
        {"", false},
        {"-rf", false},
        {"--help", false},
        {"a:b", false},
        {"a,b", false},
        {"a/b", false},
        {"a\nb", false},
        {"a\rb", false},
        {"tab\there", false},
        {std::string("nul\0x", 5), false},
        {".", false},
        {"..", false},
        {"bad\xff", false},
        {"\xc0\xaf", false},     // overlong "/"
        {"\xed\xa0\x80", false}, // a surrogate
        {"\xe3\x81", false},     // cut short
    };
    for (const Row& row : rows) {
        EXPECT_EQ(isSafeAccountName(row.name), row.safe) << testing::PrintToString(row.name);
        if (!row.safe) {
            try {
                checkAccountName(row.name);
                ADD_FAILURE() << "accepted " << testing::PrintToString(row.name);
            } catch (const directory::Error& e) {
                EXPECT_EQ(e.number(), directory::codes::kBadPathName);
            }
        }
    }
    EXPECT_TRUE(isSafeGecos("営業部, 内線 1234"));
    EXPECT_FALSE(isSafeGecos("a:b"));
    EXPECT_FALSE(isSafeGecos("line\nbreak"));
    EXPECT_FALSE(isSafeGecos("bad\xfe"));
}

TEST(Faillock, ConfigDefaultsAndOverrides) {
    const FaillockConfig defaults = parseFaillockConfig("# nothing\n");
    EXPECT_EQ(defaults.dir, "/var/run/faillock");
    EXPECT_EQ(defaults.deny, 3u);
    EXPECT_EQ(defaults.unlockTime, 600);

    const FaillockConfig c = parseFaillockConfig("dir = /tmp/tally  # private\n"
                                                 "  deny=5\n"
                                                 "unlock_time = never\n"
                                                 "fail_interval = 60\n"
                                                 "even_deny_root\n"
                                                 "deny = x\n"
                                                 "audit\n");
    EXPECT_EQ(c.dir, "/tmp/tally");
    EXPECT_EQ(c.deny, 5u); // the malformed later value is ignored
    EXPECT_EQ(c.unlockTime, 0);
    EXPECT_EQ(c.failInterval, 60);
    EXPECT_TRUE(c.evenDenyRoot);
    EXPECT_EQ(loadFaillockConfig("/nonexistent/faillock.conf").deny, 3u);

    // What pam_faillock itself refuses keeps the default: times past a week or negative, a relative dir.
    const FaillockConfig refused = parseFaillockConfig("unlock_time = -5\n"
                                                       "fail_interval = 604801\n"
                                                       "root_unlock_time = 9223372036854775807\n"
                                                       "fail_interval = never\n"
                                                       "dir = tally\n");
    EXPECT_EQ(refused.unlockTime, 600);
    EXPECT_EQ(refused.failInterval, 900);
    EXPECT_EQ(refused.rootUnlockTime, 600);
    EXPECT_EQ(refused.dir, "/var/run/faillock");
    EXPECT_EQ(parseFaillockConfig("unlock_time = 604800\n").unlockTime, 604800);
}

TEST(Faillock, TallyRoundTripsInPamFaillockLayout) {
    const std::vector<TallyRecord> records{{"tty1", kTallyStatusValid | 0x4, 1700000000},
                                           {"192.0.2.1", kTallyStatusValid | 0x2, 1700000100}};
    const std::string bytes = encodeTally(records);
    ASSERT_EQ(bytes.size(), 128u);
    EXPECT_EQ(bytes.substr(0, 4), "tty1");
    const auto back = parseTally(bytes + "partial");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].source, "192.0.2.1");
    EXPECT_EQ(back[1].status, kTallyStatusValid | 0x2);
    EXPECT_EQ(back[1].time, 1700000100u);
}

// A tally belongs to its user, who can make it any size (a sparse 64 MiB one here) or swap in a FIFO.
TEST(Faillock, ATallyIsReadNoFurtherThanPamFaillockReadsIt) {
    const testutil::TempDir dir;
    const std::string tally = encodeTally(std::vector<TallyRecord>(1025, {"tty1", kTallyStatusValid, 1}));
    ASSERT_EQ(::truncate(dir.write("alice", tally).c_str(), 64 << 20), 0);
    EXPECT_EQ(readTallyFile(dir.path(), "alice").records.size(), 1024u);
    ASSERT_EQ(::mkfifo((dir.path() + "/bob").c_str(), 0600), 0);
    EXPECT_THROW(readTallyFile(dir.path(), "bob"), directory::Error);
}

TEST(Faillock, LockedOutLikePamFaillock) {
    const std::time_t now = 1800000000;
    auto failures = [&](int count, long long age, std::uint16_t status = kTallyStatusValid) {
        std::vector<TallyRecord> r;
        for (int i = 0; i < count; ++i)
            r.push_back({"tty", status, static_cast<std::uint64_t>(now - age - i)});
        return r;
    };
    FaillockConfig c;
    struct Row {
        const char* name;
        std::vector<TallyRecord> records;
        FaillockConfig config;
        bool root;
        bool locked;
    };
    FaillockConfig never = c;
    never.unlockTime = 0;
    FaillockConfig off = c;
    off.deny = 0;
    FaillockConfig rootToo = c;
    rootToo.evenDenyRoot = true;
    FaillockConfig shortInterval = c;
    shortInterval.failInterval = 2;
    const Row rows[] = {
        {"no failures", {}, c, false, false},
        {"below deny", failures(2, 10), c, false, false},
        {"at deny", failures(3, 10), c, false, true},
        {"unlock time passed", failures(3, 601), c, false, false},
        {"never unlocks by itself", failures(3, 100000), never, false, true},
        {"deny 0 never locks", failures(10, 1), off, false, false},
        {"root is exempt", failures(5, 1), c, true, false},
        {"even_deny_root", failures(5, 1), rootToo, true, true},
        {"invalid records do not count", failures(5, 1, 0), c, false, false},
        {"failures too far apart", failures(3, 1), shortInterval, false, false},
        // A damaged tally far in the future: no overflow, still locked, as pam_faillock sees it.
        {"time at the end of the range",
         std::vector<TallyRecord>(3, TallyRecord{"tty", kTallyStatusValid, 0x7fffffffffffff00u}), c, false, true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(isLockedOut(row.records, row.config, row.root, now), row.locked) << row.name;
    std::vector<TallyRecord> spread{{"a", kTallyStatusValid, static_cast<std::uint64_t>(now - 5000)},
                                    {"b", kTallyStatusValid, static_cast<std::uint64_t>(now - 20)},
                                    {"c", kTallyStatusValid, static_cast<std::uint64_t>(now - 10)}};
    EXPECT_FALSE(isLockedOut(spread, c, false, now)); // the oldest is outside fail_interval
}

long dayNumber(int y, int m, int d) {
    return static_cast<long>(directory::daysFromCivil({y, m, d}));
}

TEST(AccountExpiry, UsableThroughTheEndOfTheLocalDay) {
    struct Row {
        const char* zone;
        directory::CivilDate last;
        long expected;
    };
    const Row rows[] = {
        {"Europe/Berlin", {2026, 3, 29}, dayNumber(2026, 3, 30)}, // the clocks go forward that night
        {"Europe/Berlin", {2026, 3, 28}, dayNumber(2026, 3, 29)},
        {"Europe/Berlin", {2026, 10, 25}, dayNumber(2026, 10, 26)}, // and back
        {"Europe/Berlin", {2026, 10, 24}, dayNumber(2026, 10, 25)},
        {"Asia/Tokyo", {2027, 1, 25}, dayNumber(2027, 1, 26)},
        {"UTC", {2026, 12, 31}, dayNumber(2027, 1, 1)},
        // West of UTC the next local midnight falls inside the following UTC day.
        {"America/New_York", {2026, 3, 8}, dayNumber(2026, 3, 10)},
        {"America/New_York", {2026, 11, 1}, dayNumber(2026, 11, 3)},
        {"UTC", {1601, 1, 1}, 1}, // long past: expired, never "no expiry"
        {"UTC", {1969, 12, 31}, 1},
    };
    for (const Row& row : rows) {
        const testutil::TzGuard tz(row.zone);
        EXPECT_EQ(shadowExpiryDay(row.last), row.expected)
            << row.zone << " " << row.last.year << "/" << row.last.month << "/" << row.last.day;
    }
}

} // namespace
