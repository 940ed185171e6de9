#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace unixacct {

// Where this computer's own account database lives. Reads and the program's own writes use these
// paths; the one tool it runs (faillock) acts on the system's own files.
struct AccountSources {
    std::string passwdPath = "/etc/passwd";
    std::string shadowPath = "/etc/shadow";
    std::string groupPath = "/etc/group";
    std::string gshadowPath = "/etc/gshadow"; // may be missing
    std::string faillockConfPath = "/etc/security/faillock.conf";
    // PAM files whose pam_faillock.so arguments override faillock.conf.
    std::vector<std::string> pamAuthPaths{"/etc/pam.d/common-auth", "/etc/pam.d/system-auth"};
    std::string loginDefsPath = "/etc/login.defs";
    std::string pamPasswordPath = "/etc/pam.d/common-password"; // pam_unix's hash method
    std::string sudoersPath = "/etc/sudoers";                   // who administers the computer
};

struct PasswdEntry {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string gecos;
    std::string password; // "x" when the hash is in the shadow file
};

struct ShadowEntry {
    std::string name;
    std::string password; // the hash field: "!" in front means locked
    long lastChange = -1; // days since 1970-01-01; -1 when empty
    long expire = -1;     // day the account expires; -1 when never
};

struct GroupEntry {
    std::string name;
    gid_t gid = 0;
    std::vector<std::string> members;
};

// The local account files, read directly (never through NSS, which may reach the network).
// Every read opens the file afresh. A file that cannot be opened throws directory::Error:
// access denied for a permission problem, a general failure otherwise.
class LocalAccounts {
public:
    explicit LocalAccounts(AccountSources sources) : m_sources(std::move(sources)) {}

    std::optional<PasswdEntry> findUser(const std::string& name) const;
    std::optional<ShadowEntry> findShadow(const std::string& name) const;
    std::optional<GroupEntry> findGroup(const std::string& name) const;
    std::optional<GroupEntry> findGroup(gid_t gid) const;

    // Every entry in file order; visit returns false to stop early.
    void forEachUser(const std::function<bool(const PasswdEntry&)>& visit) const;
    void forEachGroup(const std::function<bool(const GroupEntry&)>& visit) const;

    const AccountSources& sources() const noexcept { return m_sources; }

private:
    AccountSources m_sources;
};

} // namespace unixacct
