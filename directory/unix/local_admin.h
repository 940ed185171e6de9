#pragma once

#include <memory>

#include "account_admin.h"
#include "local_accounts.h"
#include "tool_runner.h"

namespace unixacct {

// Checks what a commit asks before anything is written: a safe account name, a description that
// fits one GECOS field, an expiry day in range, a password that is one line. Throws directory::Error.
void checkUserChange(const UserChange& change);

// Who asks for the changes. uid is named in the audit log (-1: this process's own uid). A pkexec
// caller is someone else, perhaps a help desk that polkit lets in without an administrator's
// password: uid 0, accounts outside UID_MIN..UID_MAX, groups outside GID_MIN..GID_MAX (login.defs)
// and the computer's administrators and their groups (Administrators) are out of its reach; it
// may still read their state.
struct Caller {
    uid_t uid = static_cast<uid_t>(-1);
    bool protectSystemAccounts = false;
};

// The root-only steps done in this process, on the files of sources. The shadow and passwd writes
// and the group and gshadow writes are the program's own, under shadow-utils' locks,
// read-decide-write with the lock held and one rename per file; the faillock tally is reset by faillock.
// A commit writes one file's worth of state (passwd, shadow or the tally), so that it is whole or
// nothing: one that would change two of them is refused before anything is written. Each change
// is logged to syslog (authpriv), never a password.
class LocalAdmin final : public AccountAdmin {
public:
    // lockWaitSeconds: how long a write waits for another program's lock on the account files.
    explicit LocalAdmin(AccountSources sources = {}, std::shared_ptr<ToolRunner> runner = nullptr,
                        int lockWaitSeconds = 15, Caller caller = {});

    ShadowState shadowState(const std::string& user) override;
    bool lockedOut(const std::string& user) override;
    void commit(const UserChange& change) override;
    void changeMembership(const std::string& group, const std::string& user, bool add) override;

private:
    PasswdEntry passwdEntry(const std::string& user) const;
    void checkReach(const PasswdEntry& user, const GroupEntry* group) const;
    void audit(const std::string& what, const std::string& account) const;

    LocalAccounts m_accounts;
    std::shared_ptr<ToolRunner> m_runner;
    int m_lockWaitSeconds;
    Caller m_caller;
};

} // namespace unixacct
