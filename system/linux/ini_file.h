#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sysinfo {

// A configuration file of [section] headers and "key = value" lines, read the way Samba reads
// smb.conf: section and key names compare without regard to case or whitespace ("netbios name"
// is "NetBIOSName"), ';' and '#' start a comment line, a trailing backslash continues a line,
// and a later value of a key replaces an earlier one. sssd.conf follows the same shape.
class IniFile {
public:
    // Reads a file that may not exist; a missing or unreadable file gives an empty IniFile.
    // `include = path` lines (with no % substitution) are followed, at most 8 levels deep and 32
    // files in all, relative paths taken from the current directory as Samba does. A file that
    // includes itself, directly or through others, is not read again.
    static IniFile load(const std::string& path);
    static IniFile parse(std::string_view text, const std::function<std::string(const std::string&)>& readInclude = {});

    // The value of key in section, with surrounding whitespace removed, or nothing.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Names of all sections in file order, as written between the brackets (trimmed).
    std::vector<std::string> sections() const;
    bool empty() const noexcept { return m_entries.empty(); }

    // The comparison form of a section or key name: lower case, whitespace removed.
    static std::string canonicalName(std::string_view name);

private:
    struct Entry {
        std::string section; // canonical
        std::string key;     // canonical
        std::string value;
    };
    struct ParseState {
        std::string section;
        std::vector<std::string> includeChain; // the files being read, outermost first
        int depth = 0;
        int includesRead = 0;
    };
    void parseInto(std::string_view text, const std::function<std::string(const std::string&)>& readInclude,
                   ParseState& state);

    std::vector<Entry> m_entries;
    std::vector<std::string> m_sections;
};

} // namespace sysinfo
