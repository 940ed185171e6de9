#include "local_accounts.h"

#include <grp.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "account_files.h"
#include "directory/error.h"

namespace unixacct {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForReading(const std::string& path) {
    File file(std::fopen(path.c_str(), "re"));
    if (!file) {
        const int error = errno;
        const long code =
            (error == EACCES || error == EPERM) ? directory::codes::kAccessDenied : directory::codes::kFail;
        throw directory::Error(code, path + " を読めません（" + errnoText(error) + "）。" +
                                         (code == directory::codes::kAccessDenied ? "管理者の権限が必要です。" : ""));
    }
    return file;
}

const char* nameOf(const passwd& p) {
    return p.pw_name;
}
const char* nameOf(const spwd& s) {
    return s.sp_namp;
}
const char* nameOf(const group& g) {
    return g.gr_name;
}

// "+", "+name", "-name" and "+@netgroup" lines (NIS compat) point into another database; the C
// library reads them as entries, but they are no local accounts.
template <class Entry> bool isCompatLine(const Entry& entry) {
    const char* name = nameOf(entry);
    return name && (name[0] == '+' || name[0] == '-');
}

// Runs one of the reentrant fget*ent_r readers over a file, growing the buffer when a line is
// too long for it. The reader skips lines it cannot parse, as the C library always has, and this
// skips the NIS compat lines.
template <class Entry, class Reader, class Convert, class Visit>
void readEntries(File file, const std::string& path, Reader reader, Convert convert, Visit visit) {
    std::vector<char> buffer(4096);
    Entry entry{};
    Entry* result = nullptr;
    for (;;) {
        // On ERANGE the C library puts the stream back at the start of the entry.
        const int rc = reader(file.get(), &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 24)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || result == nullptr)
            break; // ENOENT: end of file
        if (isCompatLine(*result))
            continue;
        if (!visit(convert(*result)))
            break;
    }
    if (std::ferror(file.get()))
        throw directory::Error(directory::codes::kFail, path + " を読めません。");
}

template <class Entry, class Reader, class Convert, class Visit>
void readEntries(const std::string& path, Reader reader, Convert convert, Visit visit) {
    readEntries<Entry>(openForReading(path), path, reader, convert, visit);
}

std::string readWhole(const std::string& path) {
    File file = openForReading(path);
    // One allocation of the file's size: growing a string chunk by chunk costs more than the
    // search itself on a large passwd.
    struct stat info {};
    std::string text;
    if (::fstat(::fileno(file.get()), &info) == 0 && info.st_size > 0)
        text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() + 65536);
        const std::size_t n = std::fread(text.data() + used, 1, text.size() - used, file.get());
        used += n;
        if (n == 0)
            break;
    }
    text.resize(used);
    if (std::ferror(file.get()))
        throw directory::Error(directory::codes::kFail, path + " を読めません。");
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Looking one name up in a large file: find the lines that begin with "name:" by a plain text
// search and let the C library parse only those. The first line that parses wins, as in a scan.
template <class Entry, class Reader, class Result>
std::optional<Result> findByName(const std::string& path, const std::string& name, Reader reader,
                                 Result (*convert)(const Entry&)) {
    const std::string text = readWhole(path);
    const std::string key = name + ":";
    // Each line is looked at once, from its first occurrence of the key, so the search stays linear.
    for (std::size_t hit = text.find(key); hit != std::string::npos;) {
        // The C library skips blanks at the start of a line, so "  name:" is an entry for name too.
        const std::size_t newline = hit == 0 ? std::string::npos : text.rfind('\n', hit - 1);
        const std::size_t at = newline == std::string::npos ? 0 : newline + 1;
        const std::size_t end = text.find('\n', hit);
        const std::size_t next = end == std::string::npos ? end : text.find(key, end + 1);
        if (!std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at),
                         text.begin() + static_cast<std::ptrdiff_t>(hit), isBlank)) {
            hit = next;
            continue;
        }
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
        std::optional<Result> found;
        File one(fmemopen(line.data(), line.size(), "r"));
        if (!one)
            throw directory::Error(directory::codes::kFail, "メモリーが足りません。");
        readEntries<Entry>(
            std::move(one), path, reader, [](const Entry& e) -> const Entry& { return e; },
            [&](const Entry& e) {
                found = convert(e);
                return false;
            });
        if (found && found->name == name) // "  name:" is no entry for a name that starts with blanks
            return found;
        hit = next;
    }
    return std::nullopt;
}

PasswdEntry fromPasswd(const passwd& p) {
    return PasswdEntry{p.pw_name ? p.pw_name : "", p.pw_uid, p.pw_gid, p.pw_gecos ? p.pw_gecos : "",
                       p.pw_passwd ? p.pw_passwd : ""};
}

ShadowEntry fromShadow(const spwd& s) {
    return ShadowEntry{s.sp_namp ? s.sp_namp : "", s.sp_pwdp ? s.sp_pwdp : "", s.sp_lstchg, s.sp_expire};
}

GroupEntry fromGroup(const group& g) {
    GroupEntry entry{g.gr_name ? g.gr_name : "", g.gr_gid, {}};
    for (char** member = g.gr_mem; member && *member; ++member)
        entry.members.emplace_back(*member);
    return entry;
}

} // namespace

void LocalAccounts::forEachUser(const std::function<bool(const PasswdEntry&)>& visit) const {
    readEntries<passwd>(m_sources.passwdPath, fgetpwent_r, fromPasswd, visit);
}

void LocalAccounts::forEachGroup(const std::function<bool(const GroupEntry&)>& visit) const {
    readEntries<group>(m_sources.groupPath, fgetgrent_r, fromGroup, visit);
}

std::optional<PasswdEntry> LocalAccounts::findUser(const std::string& name) const {
    return findByName<passwd>(m_sources.passwdPath, name, fgetpwent_r, fromPasswd);
}

std::optional<ShadowEntry> LocalAccounts::findShadow(const std::string& name) const {
    return findByName<spwd>(m_sources.shadowPath, name, fgetspent_r, fromShadow);
}

std::optional<GroupEntry> LocalAccounts::findGroup(const std::string& name) const {
    return findByName<group>(m_sources.groupPath, name, fgetgrent_r, fromGroup);
}

std::optional<GroupEntry> LocalAccounts::findGroup(gid_t gid) const {
    std::optional<GroupEntry> found;
    readEntries<group>(
        m_sources.groupPath, fgetgrent_r, [](const group& g) -> const group& { return g; },
        [&](const group& g) {
            if (g.gr_gid != gid)
                return true;
            found = fromGroup(g);
            return false;
        });
    return found;
}

} // namespace unixacct
