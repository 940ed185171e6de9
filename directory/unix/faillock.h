#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace unixacct {

// pam_faillock's settings, from faillock.conf; unset keys keep pam_faillock's defaults.
struct FaillockConfig {
    std::string dir = "/var/run/faillock";
    unsigned deny = 3;            // 0: never lock
    long long unlockTime = 600;   // seconds; 0: only an administrator unlocks
    long long failInterval = 900; // failures further apart than this do not add up
    bool evenDenyRoot = false;
    long long rootUnlockTime = 600; // used for uid 0 when evenDenyRoot
};

// Parses faillock.conf text: "key = value" and bare flags, '#' comments; "never" for
// unlock_time means 0. Unknown keys, malformed numbers, times above a week and a relative dir
// are ignored, as pam_faillock does.
FaillockConfig parseFaillockConfig(std::string_view text);
// Reads the file; a missing file gives the defaults.
FaillockConfig loadFaillockConfig(const std::string& path);
// One setting by its faillock.conf key (also the PAM argument's name).
void applyFaillockSetting(FaillockConfig& config, std::string_view key, std::string_view value);
// The arguments of each pam_faillock.so auth line of a PAM file, in order.
std::vector<std::vector<std::string>> faillockPamArguments(std::string_view text);
// What pam_faillock applies: faillock.conf (or the file a conf= argument names), overridden by
// the arguments on the pam_faillock.so lines of the PAM files (common-auth, system-auth).
FaillockConfig loadFaillockSettings(const std::string& confPath, const std::vector<std::string>& pamPaths);

// One record of a tally file as pam_faillock writes it (struct tally, 64 bytes, host order).
struct TallyRecord {
    std::string source;
    std::uint16_t status = 0;
    std::uint64_t time = 0;
};
inline constexpr std::size_t kTallyRecordSize = 64;
inline constexpr std::uint16_t kTallyStatusValid = 0x1;
// pam_faillock reads no more records than this from the start of a tally, and writes back what it read.
inline constexpr std::size_t kMaxTallyRecords = 1024;

std::vector<TallyRecord> parseTally(std::string_view bytes);
std::string encodeTally(const std::vector<TallyRecord>& records);

// The lockout pam_faillock would apply now: deny or more valid failures within fail_interval of
// the latest one, and the latest failure younger than unlock_time (or unlock_time 0).
bool isLockedOut(const std::vector<TallyRecord>& records, const FaillockConfig& config, bool isRoot, std::time_t now);

// The tally of one user: its records, or none when the file does not exist. An unreadable file,
// or one that is no regular file, throws directory::Error. The file belongs to its user, who can
// make it any size: only the records pam_faillock would use are read (kMaxTallyRecords from the
// start), so time and memory stay bounded whatever the file holds.
struct TallyFile {
    bool exists = false;
    std::vector<TallyRecord> records;
};
TallyFile readTallyFile(const std::string& dir, const std::string& user);

} // namespace unixacct
