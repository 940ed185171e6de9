#include "faillock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "account_files.h"
#include "directory/error.h"

namespace unixacct {
namespace {

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

template <class Number> bool parseNumber(std::string_view text, Number& out) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    out = value;
    return true;
}

// pam_faillock refuses times above a week and keeps its default instead.
constexpr long long kMaxTimeInterval = 604800;

void parseSeconds(std::string_view text, long long& out, bool neverMeansZero) {
    long long value = 0;
    if (neverMeansZero && text == "never")
        value = 0;
    else if (!parseNumber(text, value) || value < 0 || value > kMaxTimeInterval)
        return;
    out = value;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Calls visit with each line of text, its comment ("#" to the end) cut off.
template <class Visit> void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        visit(line);
    }
}

} // namespace

void applyFaillockSetting(FaillockConfig& config, std::string_view key, std::string_view value) {
    if (key == "dir" && !value.empty() && value.front() == '/') {
        config.dir = std::string(value); // a relative one would depend on the working directory
    } else if (key == "deny") {
        parseNumber(value, config.deny);
    } else if (key == "unlock_time") {
        parseSeconds(value, config.unlockTime, true);
    } else if (key == "fail_interval") {
        parseSeconds(value, config.failInterval, false);
    } else if (key == "root_unlock_time") {
        parseSeconds(value, config.rootUnlockTime, true);
    } else if (key == "even_deny_root") {
        config.evenDenyRoot = true;
    }
}

FaillockConfig parseFaillockConfig(std::string_view text) {
    FaillockConfig config;
    forEachLine(text, [&](std::string_view line) {
        line = trim(line);
        if (line.empty())
            return;
        const auto eq = line.find('=');
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = eq == std::string_view::npos ? std::string_view() : trim(line.substr(eq + 1));
        applyFaillockSetting(config, key, value);
    });
    return config;
}

std::vector<std::vector<std::string>> faillockPamArguments(std::string_view text) {
    std::vector<std::vector<std::string>> lines;
    forEachLine(text, [&](std::string_view line) {
        // Tokens are separated by blanks; "[...]" is one token (a control or an argument with blanks).
        std::vector<std::string> tokens;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
                ++i;
            if (i >= line.size())
                break;
            std::string token;
            if (line[i] == '[') {
                const std::size_t close = line.find(']', i);
                const std::size_t stop = close == std::string_view::npos ? line.size() : close;
                token = std::string(line.substr(i + 1, stop - i - 1));
                i = stop + 1;
            } else {
                const std::size_t stop = line.find_first_of(" \t\r", i);
                token = std::string(line.substr(i, stop == std::string_view::npos ? std::string_view::npos : stop - i));
                i = stop == std::string_view::npos ? line.size() : stop;
            }
            tokens.push_back(std::move(token));
        }
        if (tokens.size() < 3 || (tokens[0] != "auth" && tokens[0] != "-auth"))
            return;
        const std::string& module = tokens[2];
        const auto slash = module.rfind('/');
        if (module.substr(slash == std::string::npos ? 0 : slash + 1) != "pam_faillock.so")
            return;
        lines.emplace_back(tokens.begin() + 3, tokens.end());
    });
    return lines;
}

FaillockConfig loadFaillockConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return FaillockConfig{};
    std::ostringstream text;
    text << in.rdbuf();
    return parseFaillockConfig(text.str());
}

FaillockConfig loadFaillockSettings(const std::string& confPath, const std::vector<std::string>& pamPaths) {
    std::vector<std::vector<std::string>> pamLines;
    for (const std::string& path : pamPaths) {
        std::ifstream in(path);
        if (!in)
            continue;
        std::ostringstream text;
        text << in.rdbuf();
        for (auto& args : faillockPamArguments(text.str()))
            pamLines.push_back(std::move(args));
    }
    std::string conf = confPath;
    for (const auto& args : pamLines)
        for (const std::string& arg : args)
            if (arg.rfind("conf=", 0) == 0 && arg.size() > 5)
                conf = arg.substr(5);
    FaillockConfig config = loadFaillockConfig(conf);
    for (const auto& args : pamLines)
        for (const std::string& arg : args) {
            const auto eq = arg.find('=');
            applyFaillockSetting(config, std::string_view(arg).substr(0, eq),
                                 eq == std::string::npos ? std::string_view() : std::string_view(arg).substr(eq + 1));
        }
    return config;
}

std::vector<TallyRecord> parseTally(std::string_view bytes) {
    std::vector<TallyRecord> records;
    for (std::size_t at = 0; at + kTallyRecordSize <= bytes.size(); at += kTallyRecordSize) {
        const char* raw = bytes.data() + at;
        TallyRecord record;
        record.source.assign(raw, strnlen(raw, 52));
        std::memcpy(&record.status, raw + 54, sizeof record.status);
        std::memcpy(&record.time, raw + 56, sizeof record.time);
        records.push_back(std::move(record));
    }
    return records;
}

std::string encodeTally(const std::vector<TallyRecord>& records) {
    std::string bytes(records.size() * kTallyRecordSize, '\0');
    for (std::size_t i = 0; i < records.size(); ++i) {
        char* raw = bytes.data() + i * kTallyRecordSize;
        std::memcpy(raw, records[i].source.data(), std::min<std::size_t>(records[i].source.size(), 51));
        std::memcpy(raw + 54, &records[i].status, sizeof records[i].status);
        std::memcpy(raw + 56, &records[i].time, sizeof records[i].time);
    }
    return bytes;
}

bool isLockedOut(const std::vector<TallyRecord>& records, const FaillockConfig& config, bool isRoot, std::time_t now) {
    if (config.deny == 0 || (isRoot && !config.evenDenyRoot))
        return false;
    std::uint64_t latest = 0;
    for (const TallyRecord& r : records)
        if ((r.status & kTallyStatusValid) && r.time > latest)
            latest = r.time;
    unsigned failures = 0;
    for (const TallyRecord& r : records)
        if ((r.status & kTallyStatusValid) && latest - r.time < static_cast<std::uint64_t>(config.failInterval))
            ++failures;
    if (failures < config.deny)
        return false;
    const long long unlockTime = isRoot ? config.rootUnlockTime : config.unlockTime;
    if (unlockTime == 0)
        return true;
    // pam_faillock reads the stored time as a signed time_t. A time so far ahead that the sum
    // leaves the range is past any clock: still locked.
    long long until = 0;
    if (__builtin_add_overflow(static_cast<long long>(latest), unlockTime, &until))
        return true;
    return until >= static_cast<long long>(now);
}

TallyFile readTallyFile(const std::string& dir, const std::string& user) {
    const std::string path = dir + "/" + user;
    // Non-blocking: a FIFO put in place of the tally must not hold the reader.
    FdCloser fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    if (fd.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        const long code =
            (errno == EACCES || errno == EPERM) ? directory::codes::kAccessDenied : directory::codes::kFail;
        throw directory::Error(code, "ログイン失敗の記録 " + path + " を読めません（" + errnoText(errno) + "）。");
    }
    struct stat info {};
    if (::fstat(fd.fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw directory::Error(directory::codes::kFail,
                               "ログイン失敗の記録 " + path + " が通常のファイルではありません。確かめてください。");
    // Sized by the file, up to what pam_faillock reads: an ordinary tally is a few records.
    std::string bytes(
        std::min<std::size_t>(kMaxTallyRecords * kTallyRecordSize, static_cast<std::size_t>(info.st_size)), '\0');
    std::size_t used = 0;
    while (used < bytes.size()) {
        const ssize_t n = ::read(fd.fd, bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw directory::Error(directory::codes::kFail, "ログイン失敗の記録 " + path + " を読めません。");
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    return TallyFile{true, parseTally(bytes)};
}

} // namespace unixacct
