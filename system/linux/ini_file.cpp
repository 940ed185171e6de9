#include "ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sysinfo {
namespace {

constexpr int kMaxIncludeDepth = 8;
// Includes that repeat would otherwise multiply at every level.
constexpr int kMaxIncludes = 32;
constexpr std::size_t kMaxFileSize = 1 << 20;

bool isSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string readFile(const std::string& path) {
    // Only a regular file: a FIFO, a terminal or a device named by an include would block or never end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
        static_cast<std::size_t>(info.st_size) <= kMaxFileSize) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > kMaxFileSize) {
                text.clear(); // not a configuration file
                break;
            }
        }
    }
    ::close(fd);
    return text;
}

// Logical lines: a backslash at the end of a physical line joins the next one.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view physical = text.substr(pos, end - pos);
        if (!physical.empty() && physical.back() == '\r')
            physical.remove_suffix(1);
        std::string_view trimmedEnd = physical;
        while (!trimmedEnd.empty() && isSpace(trimmedEnd.back()))
            trimmedEnd.remove_suffix(1);
        if (!trimmedEnd.empty() && trimmedEnd.back() == '\\') {
            trimmedEnd.remove_suffix(1);
            current.append(trimmedEnd);
            current.push_back(' ');
        } else {
            current.append(physical);
            lines.push_back(std::move(current));
            current.clear();
        }
        if (end == text.size())
            break;
        pos = end + 1;
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

} // namespace

std::string IniFile::canonicalName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (isSpace(c))
            continue;
        out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
}

IniFile IniFile::load(const std::string& path) {
    IniFile file;
    ParseState state;
    state.includeChain.push_back(path);
    file.parseInto(
        readFile(path), [](const std::string& included) { return readFile(included); }, state);
    return file;
}

IniFile IniFile::parse(std::string_view text, const std::function<std::string(const std::string&)>& readInclude) {
    IniFile file;
    ParseState state;
    file.parseInto(text, readInclude, state);
    return file;
}

void IniFile::parseInto(std::string_view text, const std::function<std::string(const std::string&)>& readInclude,
                        ParseState& state) {
    std::string& section = state.section;
    for (const std::string& raw : logicalLines(text)) {
        std::string_view line = trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos)
                continue; // Samba skips a broken header's line too
            const std::string_view name = trim(line.substr(1, close - 1));
            section = canonicalName(name);
            m_sections.emplace_back(name);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string key = canonicalName(line.substr(0, eq));
        if (key.empty())
            continue;
        std::string value(trim(line.substr(eq + 1)));
        if (key == "include") {
            const auto& chain = state.includeChain;
            if (readInclude && !value.empty() && value.find('%') == std::string::npos &&
                state.depth < kMaxIncludeDepth && state.includesRead < kMaxIncludes &&
                std::find(chain.begin(), chain.end(), value) == chain.end()) {
                ++state.includesRead;
                ++state.depth;
                state.includeChain.push_back(value);
                parseInto(readInclude(value), readInclude, state);
                state.includeChain.pop_back();
                --state.depth;
            }
            continue;
        }
        m_entries.push_back({section, std::move(key), std::move(value)});
    }
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    const std::string s = canonicalName(section);
    const std::string k = canonicalName(key);
    const auto found = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                    [&](const Entry& e) { return e.section == s && e.key == k; });
    if (found == m_entries.rend())
        return std::nullopt;
    return found->value;
}

std::vector<std::string> IniFile::sections() const {
    return m_sections;
}

} // namespace sysinfo
