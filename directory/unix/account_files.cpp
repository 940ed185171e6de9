#include "account_files.h"

#include <fcntl.h>
#include <grp.h>
#include <gshadow.h>
#include <pthread.h>
#include <pwd.h>
#include <selinux/selinux.h>
#include <shadow.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "directory/error.h"
#include "tool_runner.h"

namespace unixacct {
namespace {

using directory::Error;
namespace codes = directory::codes;

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

std::string readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Error((error == EACCES || error == EPERM) ? codes::kAccessDenied : codes::kFail,
                    path + " を読めません（" + errnoText(error) + "）。");
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw Error(codes::kFail, path + " を読めません（" + errnoText(error) + "）。");
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

// Whether the C library's reader for this kind of file takes line as the entry of name.
template <class Entry, class Reader, class NameOf>
bool libraryReads(std::string line, const std::string& name, Reader reader, NameOf nameOf) {
    line += '\n';
    const std::unique_ptr<std::FILE, FileCloser> file(fmemopen(line.data(), line.size(), "r"));
    if (!file)
        throw Error(codes::kFail, "メモリーが足りません。");
    std::vector<char> buffer(line.size() * 2 + 1024);
    Entry entry{};
    Entry* result = nullptr;
    int rc;
    // On ERANGE the C library puts the stream back at the start of the entry.
    while ((rc = reader(file.get(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE)
        buffer.resize(buffer.size() * 4);
    return rc == 0 && result && name == nameOf(*result);
}

bool libraryReads(AccountFile kind, const std::string& line, const std::string& name) {
    switch (kind) {
    case AccountFile::Passwd:
        return libraryReads<passwd>(line, name, fgetpwent_r, [](const passwd& e) { return e.pw_name; });
    case AccountFile::Shadow:
        return libraryReads<spwd>(line, name, fgetspent_r, [](const spwd& e) { return e.sp_namp; });
    case AccountFile::Group:
        return libraryReads<group>(line, name, fgetgrent_r, [](const group& e) { return e.gr_name; });
    case AccountFile::Gshadow:
        return libraryReads<sgrp>(line, name, fgetsgent_r, [](const sgrp& e) { return e.sg_namp; });
    }
    return false;
}

// name's line: its start and the position after its last character. The C library skips blanks
// before a line's name and lines it cannot parse, and the first entry it reads wins; so a second
// line for the name, or one it would skip, leaves readers and writers at odds.
bool findLine(AccountFile kind, const std::string& path, const std::string& text, const std::string& name,
              std::size_t& start, std::size_t& end) {
    if (!name.empty() && (name.front() == '+' || name.front() == '-'))
        return false; // NIS compat lines point elsewhere: no local account has such a line
    const std::string key = name + ":";
    const bool users = kind == AccountFile::Passwd || kind == AccountFile::Shadow;
    const std::string check = users ? "pwck" : "grpck";
    bool found = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t lineEnd = text.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        std::size_t nameAt = at;
        while (nameAt < lineEnd && isBlank(text[nameAt]))
            ++nameAt;
        if (text.compare(nameAt, key.size(), key) == 0) {
            if (found)
                throw Error(codes::kFail, path + " に " + name +
                                              " の行が二つ以上あります。どの行を変えるか決められないため、" +
                                              "変更しませんでした。" + check + " でファイルを確かめてください。");
            found = true;
            start = at;
            end = lineEnd;
        }
        at = lineEnd + 1;
    }
    if (found && !libraryReads(kind, text.substr(start, end - start), name))
        throw Error(codes::kFail, path + " の " + name + " の行が壊れているため、変更しませんでした。" + check +
                                      " でファイルを確かめてください。");
    return found;
}

bool processGone(pid_t pid) {
    return pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH);
}

// shadow-utils' file lock: FILE.PID holds our process id and is linked to FILE.lock; a lock
// whose process is gone is stale and removed.
bool tryFileLock(const std::string& file) {
    const std::string mine = file + "." + std::to_string(::getpid());
    const std::string lock = file + ".lock";
    ::unlink(mine.c_str());
    const int fd = ::open(mine.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw Error(codes::kFail, mine + " を作れません（" + errnoText(errno) + "）。");
    const std::string pidText = std::to_string(::getpid());
    const bool written = writeAll(fd, pidText);
    ::close(fd);
    if (!written) {
        ::unlink(mine.c_str());
        throw Error(codes::kFail, mine + " に書き込めません。");
    }
    bool taken = ::link(mine.c_str(), lock.c_str()) == 0;
    if (!taken && errno == EEXIST) {
        std::string holder;
        try {
            holder = readFile(lock);
        } catch (const Error&) {
        }
        pid_t pid = 0;
        try {
            pid = static_cast<pid_t>(std::stol(holder));
        } catch (const std::exception&) {
            pid = 0;
        }
        if (pid != ::getpid() && processGone(pid)) {
            ::unlink(lock.c_str());
            taken = ::link(mine.c_str(), lock.c_str()) == 0;
        }
    }
    ::unlink(mine.c_str());
    return taken;
}

// A new file is labelled by its directory's rules, which need not be the account file's own
// (shadow_t, passwd_file_t): the rewritten file takes the old one's context, as shadow-utils does.
// A failure matters only where SELinux enforces.
bool keepSecurityContext(const std::string& path, int fd) {
    if (is_selinux_enabled() <= 0)
        return true;
    char* context = nullptr;
    if (::getfilecon(path.c_str(), &context) < 0)
        return errno == ENODATA || errno == ENOTSUP || security_getenforce() != 1;
    const bool set = ::fsetfilecon(fd, context) == 0;
    ::freecon(context);
    return set || security_getenforce() != 1;
}

} // namespace

bool writeAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string errnoText(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "権限がありません";
    case ENOENT:
        return "ファイルがありません";
    case ENOSPC:
        return "ディスクに空きがありません";
    case EROFS:
        return "読み取り専用のファイルシステムです";
    case EIO:
        return "入出力エラーです";
    default:
        return "エラー番号 " + std::to_string(error);
    }
}

AccountFilesLock::AccountFilesLock(const std::vector<std::string>& files, int waitSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    const std::string pwdLock = directoryOf(files.empty() ? std::string("/etc/passwd") : files.front()) + "/.pwd.lock";
    m_pwdLockFd = ::open(pwdLock.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (m_pwdLockFd < 0) {
        const int error = errno;
        throw Error((error == EACCES || error == EPERM) ? codes::kAccessDenied : codes::kFail,
                    pwdLock + " を開けません（" + errnoText(error) + "）。");
    }
    auto busy = [&](const std::string& what) {
        release();
        return Error(codes::kFail,
                     what + " を他のプログラムが使用中です。しばらく待ってから、もう一度実行してください。");
    };
    for (;;) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(m_pwdLockFd, F_SETLK, &whole) == 0)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            throw busy(pwdLock);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const std::string& file : files) {
        while (!tryFileLock(file)) {
            if (std::chrono::steady_clock::now() >= deadline)
                throw busy(file);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_lockFiles.push_back(file + ".lock");
    }
}

AccountFilesLock::~AccountFilesLock() {
    release();
}

void AccountFilesLock::release() noexcept {
    for (const std::string& lock : m_lockFiles)
        ::unlink(lock.c_str());
    m_lockFiles.clear();
    if (m_pwdLockFd >= 0)
        ::close(m_pwdLockFd); // closing drops the fcntl lock
    m_pwdLockFd = -1;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto colon = line.find(':', start);
        out.push_back(line.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return out;
        start = colon + 1;
    }
}

std::string joinFields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ':';
        line += fields[i];
    }
    return line;
}

std::vector<std::string> readEntry(AccountFile kind, const std::string& path, const std::string& name) {
    const std::string text = readFile(path);
    std::size_t start = 0, end = 0;
    if (!findLine(kind, path, text, name, start, end))
        return {};
    return splitFields(text.substr(start, end - start));
}

bool prepareEntry(AccountFile kind, const std::string& path, const std::string& name,
                  const std::function<bool(std::vector<std::string>&)>& edit, bool& changed) {
    changed = false;
    std::string text = readFile(path);
    std::size_t start = 0, end = 0;
    if (!findLine(kind, path, text, name, start, end))
        return false;
    std::vector<std::string> fields = splitFields(text.substr(start, end - start));
    if (!edit(fields))
        return true;
    text.replace(start, end - start, joinFields(fields));

    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw Error(codes::kFail, path + " を調べられません（" + errnoText(errno) + "）。");
    const std::string next = path + "+";
    ::unlink(next.c_str()); // a leftover of a writer that was killed
    const int fd = ::open(next.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw Error(codes::kFail, next + " を作れません（" + errnoText(errno) + "）。");
    const bool ok = ::fchown(fd, info.st_uid, info.st_gid) == 0 && ::fchmod(fd, info.st_mode & 07777) == 0 &&
                    keepSecurityContext(path, fd) && writeAll(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(next.c_str());
        throw Error(codes::kFail, path + " を書き換えられません（" + errnoText(error) + "）。元のままです。");
    }
    changed = true;
    return true;
}

namespace {

struct Replacement {
    std::string path, next, backup, directory;
};

Replacement replacementOf(const std::string& path) {
    return {path, path + "+", path + "-", directoryOf(path)};
}

// The old file becomes the backup under its own inode; the rename is the one moment of change.
// Only system calls on prepared texts: safe in a child forked from a threaded program.
bool replaceByPrepared(const Replacement& r) {
    ::unlink(r.backup.c_str());
    [[maybe_unused]] const int linked = ::link(r.path.c_str(), r.backup.c_str());
    if (::rename(r.next.c_str(), r.path.c_str()) != 0)
        return false;
    const int dirFd = ::open(r.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace

void commitPrepared(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    std::vector<Replacement> replacements;
    for (const std::string& path : paths)
        replacements.push_back(replacementOf(path));
    if (paths.size() == 1) {
        if (!replaceByPrepared(replacements.front())) {
            const int error = errno;
            ::unlink((paths.front() + "+").c_str());
            throw Error(codes::kFail,
                        paths.front() + " を書き換えられません（" + errnoText(error) + "）。元のままです。");
        }
        return;
    }
    // Two files cannot change in one rename. The renames run in a vfork child: it shares this
    // program's memory and runs while the program waits, and a kill of the program does not stop
    // it, so the files never end up one new and one old.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &old);
    const pid_t pid = ::vfork();
    if (pid == 0) {
        ::setpgid(0, 0);
        int failed = 0;
        for (const Replacement& r : replacements)
            if (!replaceByPrepared(r))
                failed = 1;
        ::_exit(failed);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0)
        throw Error(codes::kFail, "書き込み用のプロセスを作れません（" + errnoText(errno) + "）。変更していません。");
    // vfork resumes this program only once the child has ended: the wait is a formality, bounded all the same.
    int status = 0;
    if (!waitChild(pid, status, std::chrono::seconds(10)))
        status = 1 << 8;
    for (const Replacement& r : replacements)
        ::unlink(r.next.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw Error(codes::kFail,
                    "アカウントファイルを書き換えられませんでした。ファイルの状態を grpck -r で確かめてください。");
}

bool rewriteEntry(AccountFile kind, const std::string& path, const std::string& name,
                  const std::function<bool(std::vector<std::string>&)>& edit) {
    bool changed = false;
    if (!prepareEntry(kind, path, name, edit, changed))
        return false;
    if (changed)
        commitPrepared({path});
    return true;
}

} // namespace unixacct
