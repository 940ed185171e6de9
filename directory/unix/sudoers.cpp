#include "sudoers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

#include "account_files.h"
#include "directory/error.h"

namespace unixacct {
namespace {

using directory::Error;
namespace codes = directory::codes;

// sudo's own limit on nested includes; a file that includes itself ends here too.
constexpr int kMaxDepth = 128;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "#" starts a comment unless a uid or gid follows it ("#1000", "%#-1"); "\#" is no comment.
std::size_t commentStart(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
            continue;
        }
        if (line[i] != '#')
            continue;
        const std::string_view rest = line.substr(i + 1);
        const bool id = (!rest.empty() && isDigit(rest[0])) || (rest.size() > 1 && rest[0] == '-' && isDigit(rest[1]));
        if (!id)
            return i;
    }
    return std::string_view::npos;
}

class LineParser {
public:
    LineParser(std::string_view text, const std::string& file, std::size_t line, SudoersNames& names)
        : m_text(text), m_file(file), m_line(line), m_names(names) {}

    [[noreturn]] void fail() const {
        throw Error(codes::kAccessDenied,
                    m_file + " の " + std::to_string(m_line) + " 行目を sudoers として読めません。");
    }

    void skipBlanks() {
        while (m_at < m_text.size() && isBlank(m_text[m_at]))
            ++m_at;
    }
    bool atEnd() const { return m_at >= m_text.size(); }
    bool take(char c) {
        if (atEnd() || m_text[m_at] != c)
            return false;
        ++m_at;
        return true;
    }
    char peek() const { return atEnd() ? '\0' : m_text[m_at]; }
    std::string_view rest() const { return m_text.substr(std::min(m_at, m_text.size())); }

    // A keyword at the cursor followed by a blank, the end, or one of after; taken when it is.
    bool keyword(std::string_view word, std::string_view after = {}) {
        if (!startsWith(rest(), word))
            return false;
        const char next = m_at + word.size() < m_text.size() ? m_text[m_at + word.size()] : '\0';
        if (next != '\0' && !isBlank(next) && (after.empty() || after.find(next) == std::string_view::npos))
            return false;
        m_at += word.size();
        return true;
    }

    // An include's path: a quoted string or a word in which "\" escapes the next character.
    std::string includePath() {
        skipBlanks();
        std::string path;
        if (peek() == '"') {
            path = quoted();
        } else {
            while (!atEnd() && !isBlank(peek())) {
                if (peek() == '\\' && m_at + 1 < m_text.size())
                    ++m_at;
                path += m_text[m_at++];
            }
        }
        skipBlanks();
        if (path.empty() || (!atEnd() && commentStart(rest()) != 0))
            fail();
        return path;
    }

    // A list of users, groups, ids, netgroups and aliases, each perhaps negated, split by commas.
    void userList(bool bindingOnly) {
        for (;;) {
            skipBlanks();
            while (peek() == '!' || isBlank(peek()))
                ++m_at;
            name(item(), bindingOnly);
            skipBlanks();
            if (!take(','))
                return;
        }
    }

    // "NAME = list" definitions of one User_Alias line, split by ":".
    void userAliases() {
        for (;;) {
            skipBlanks();
            const std::size_t start = m_at;
            while (!atEnd() && ((peek() >= 'A' && peek() <= 'Z') || isDigit(peek()) || peek() == '_'))
                ++m_at;
            if (m_at == start || isDigit(m_text[start]))
                fail();
            skipBlanks();
            if (!take('='))
                fail();
            userList(false);
            skipBlanks();
            if (atEnd())
                return;
            if (!take(':'))
                fail();
        }
    }

private:
    std::string quoted() {
        std::string out;
        ++m_at;
        while (!atEnd() && peek() != '"') {
            if (peek() == '\\' && m_at + 1 < m_text.size())
                ++m_at;
            out += m_text[m_at++];
        }
        if (atEnd())
            fail();
        ++m_at;
        return out;
    }

    std::string item() {
        if (peek() == '"')
            return quoted();
        std::string out;
        if (peek() == '%') {
            out += m_text[m_at++];
            if (peek() == ':')
                out += m_text[m_at++];
        } else if (peek() == '+') {
            out += m_text[m_at++];
        }
        if (peek() == '#') {
            out += m_text[m_at++];
            if (peek() == '-')
                out += m_text[m_at++];
            while (isDigit(peek()))
                out += m_text[m_at++];
            return out;
        }
        while (!atEnd() && !isBlank(peek()) && std::strchr("#>!=:,()\"", peek()) == nullptr) {
            if (peek() == '\\' && m_at + 1 < m_text.size())
                ++m_at;
            out += m_text[m_at++];
        }
        return out;
    }

    template <class Id> Id id(std::string_view digits) const {
        unsigned long value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value >= static_cast<Id>(-1))
            fail();
        return static_cast<Id>(value);
    }

    // bindingOnly: a Defaults binding, which grants nothing, so ALL and netgroups name no one.
    void name(std::string_view text, bool bindingOnly) {
        if (text.empty())
            fail();
        if (text == "ALL" || text[0] == '+') {
            if (text.size() == 1)
                fail();
            m_names.everyone = m_names.everyone || !bindingOnly;
        } else if (text[0] == '%') {
            text.remove_prefix(startsWith(text, "%:") ? 2 : 1);
            if (text.empty())
                fail();
            if (text[0] == '#')
                m_names.gids.insert(id<gid_t>(text.substr(1)));
            else
                m_names.groups.emplace(text);
        } else if (text[0] == '#') {
            m_names.uids.insert(id<uid_t>(text.substr(1)));
        } else {
            m_names.users.emplace(text);
        }
    }

    std::string_view m_text;
    const std::string& m_file;
    std::size_t m_line;
    SudoersNames& m_names;
    std::size_t m_at = 0;
};

void parseLine(std::string_view text, const std::string& file, std::size_t line, SudoersNames& names) {
    LineParser p(text, file, line, names);
    p.skipBlanks();
    if (p.atEnd())
        return;
    if (p.keyword("Defaults", ":@>!")) {
        if (p.take(':'))
            p.userList(true); // the users a setting applies to
        return;
    }
    if (p.keyword("User_Alias")) {
        p.userAliases();
        return;
    }
    for (const char* other : {"Runas_Alias", "Host_Alias", "Cmnd_Alias", "Cmd_Alias"})
        if (p.keyword(other))
            return;
    p.userList(false);
    if (p.rest().find('=') == std::string_view::npos)
        p.fail();
}

[[noreturn]] void unreadable(const std::string& path, int error) {
    throw Error(codes::kAccessDenied, path + " を読めません（" + errnoText(error) + "）。");
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

// False when the file is missing and missingIsEmpty.
bool readText(const std::string& path, bool missingIsEmpty, std::string& text) {
    // Not blocking: a FIFO put where a file belongs is refused below rather than waited on.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        if (errno == ENOENT && missingIsEmpty)
            return false;
        unreadable(path, errno);
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        unreadable(path, errno);
    if (!S_ISREG(info.st_mode))
        throw Error(codes::kAccessDenied, path + " は普通のファイルではありません。");
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            unreadable(path, errno);
        if (n == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string shortHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw Error(codes::kAccessDenied, "ホスト名がわからないので、sudoers の %h を読めません。");
    const std::string host = name;
    return host.substr(0, host.find('.'));
}

// Where an include line points: "%h" is the short host name, a relative path is beside file.
std::string includedPath(std::string written, const std::string& file) {
    for (std::size_t at = written.find("%h"); at != std::string::npos; at = written.find("%h", at)) {
        const std::string host = shortHostName();
        written.replace(at, 2, host);
        at += host.size();
    }
    if (written.front() != '/')
        written.insert(0, file.substr(0, file.rfind('/') + 1));
    return written;
}

void readInto(const std::string& path, SudoersNames& names, int depth, bool missingIsEmpty);

void readFolder(const std::string& folder, SudoersNames& names, int depth) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        if (errno == ENOENT)
            return;
        unreadable(folder, errno);
    }
    std::vector<std::string> files;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                unreadable(folder, errno);
            break;
        }
        const std::string name = entry->d_name;
        if (name.empty() || name.back() == '~' || name.find('.') != std::string::npos)
            continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            if (errno == ENOENT)
                continue; // a link to nothing holds no rule
            unreadable(path, errno);
        }
        if (S_ISREG(info.st_mode))
            files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& file : files)
        readInto(file, names, depth, false);
}

void readInto(const std::string& path, SudoersNames& names, int depth, bool missingIsEmpty) {
    if (depth > kMaxDepth)
        throw Error(codes::kAccessDenied,
                    path + " の取り込みが深すぎます。#include がくり返していないか確かめてください。");
    std::string text;
    if (!readText(path, missingIsEmpty, text))
        return;
    parseSudoers(text, path, names, [&](const std::string& written, bool isFolder) {
        const std::string target = includedPath(written, path);
        if (isFolder)
            readFolder(target, names, depth + 1);
        else
            readInto(target, names, depth + 1, false);
    });
}

} // namespace

void parseSudoers(std::string_view text, const std::string& file, SudoersNames& names,
                  const std::function<void(const std::string& path, bool isFolder)>& include) {
    std::string logical;
    bool continued = false;
    std::size_t first = 0, number = 0;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t newline = text.find('\n', at);
        std::string_view line =
            text.substr(at, newline == std::string_view::npos ? std::string_view::npos : newline - at);
        at = newline == std::string_view::npos ? text.size() + 1 : newline + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!continued)
            first = number;
        LineParser p(line, file, number, names);
        if (line.find('\0') != std::string_view::npos)
            p.fail();

        // Include lines are whole lines of their own; a "#" inside their path is no comment.
        const auto hashKeyword = [&](std::string_view word) {
            return startsWith(line, word) && line.size() > word.size() && isBlank(line[word.size()]);
        };
        const bool hashInclude = hashKeyword("#include") || hashKeyword("#includedir");
        p.skipBlanks();
        if (hashInclude || startsWith(p.rest(), "@include")) {
            const bool folder = p.keyword(line[0] == '#' ? "#includedir" : "@includedir", "\"");
            if (!folder && !p.keyword(line[0] == '#' ? "#include" : "@include", "\""))
                p.fail(); // "@includefoo"
            if (continued)
                p.fail();
            include(p.includePath(), folder);
            continue;
        }

        // A comment runs to the end of the line, so a backslash before it continues nothing.
        const std::size_t comment = commentStart(line);
        line = line.substr(0, comment);
        const std::size_t end = line.find_last_not_of(" \t");
        line = line.substr(0, end == std::string_view::npos ? 0 : end + 1);
        std::size_t backslashes = 0;
        while (backslashes < line.size() && line[line.size() - 1 - backslashes] == '\\')
            ++backslashes;
        continued = comment == std::string_view::npos && backslashes % 2 == 1;
        logical.append(line.substr(0, line.size() - (continued ? 1 : 0)));
        if (continued && at <= text.size()) {
            logical += ' ';
            continue;
        }
        parseLine(logical, file, first, names);
        logical.clear();
        continued = false;
    }
}

SudoersNames readSudoers(const std::string& path) {
    SudoersNames names;
    readInto(path, names, 0, true);
    return names;
}

} // namespace unixacct
