#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace unixacct {

// Short Japanese text for an errno value, for error descriptions the operator reads.
std::string errnoText(int error);

// Writes all of text to fd, resuming after interrupted and short writes. False on any failure.
bool writeAll(int fd, std::string_view text);

// Holds shadow-utils' locks on the account files for as long as it lives: the lckpwdf(3) lock
// (an fcntl lock on .pwd.lock next to the files, released by the kernel when its holder dies)
// and, for each file, the "FILE.lock" link holding the holder's process id, taken the way
// shadow-utils takes it, so a lock left by a killed program (its process gone) is cleared.
// Throws directory::Error (failure) when another program keeps a lock past the wait.
class AccountFilesLock {
public:
    // files: the account files about to be written, all in the same directory.
    explicit AccountFilesLock(const std::vector<std::string>& files, int waitSeconds = 15);
    ~AccountFilesLock();
    AccountFilesLock(const AccountFilesLock&) = delete;
    AccountFilesLock& operator=(const AccountFilesLock&) = delete;

private:
    void release() noexcept;

    int m_pwdLockFd = -1;
    std::vector<std::string> m_lockFiles;
};

// Which account file a line comes from: the C library parses each kind by its own rules.
enum class AccountFile { Passwd, Shadow, Group, Gshadow };

// A colon-separated line split into its fields.
std::vector<std::string> splitFields(const std::string& line);
std::string joinFields(const std::vector<std::string>& fields);

// The line of `path` for `name` is the one the C library reads as that account (blanks may lead
// it). When two lines carry the name, or the one that does is a line the C library skips, readers
// and this writer could address different lines: such a file is refused (directory::Error) with
// advice to check it with pwck or grpck.
//
// Replaces that line by edit(fields), the way shadow-utils does: the new file is written to
// "PATH+" with the old file's owner, mode and (where SELinux is enabled) security context and
// flushed to disk, the old file stays as the backup "PATH-", and "PATH+" is renamed over PATH.
// A kill at any moment leaves PATH either wholly old or wholly new. The caller holds the lock.
// edit returns false to leave the file untouched. Returns false when no line has that name.
bool rewriteEntry(AccountFile kind, const std::string& path, const std::string& name,
                  const std::function<bool(std::vector<std::string>&)>& edit);

// The two halves of rewriteEntry, for a change that spans files: prepareEntry writes "PATH+"
// (changed tells whether it did; false when edit left the line alone) and returns false when
// no line has that name; commitPrepared then puts every prepared file in place. Several files
// are renamed by a vfork child, which a kill of this program does not stop.
bool prepareEntry(AccountFile kind, const std::string& path, const std::string& name,
                  const std::function<bool(std::vector<std::string>&)>& edit, bool& changed);
void commitPrepared(const std::vector<std::string>& paths);

// The fields of name's line of `path`, found as rewriteEntry finds it; empty when there is none.
std::vector<std::string> readEntry(AccountFile kind, const std::string& path, const std::string& name);

} // namespace unixacct
