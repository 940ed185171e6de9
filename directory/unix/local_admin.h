#pragma once

#include <memory>

#include "account_admin.h"
#include "local_accounts.h"
#include "tool_runner.h"

namespace unixacct {

// Checks what a commit asks before anything is written: a safe account name, a description that
// fits one GECOS field, an expiry day in range, a password that is one line. Throws directory::Error.
void checkUserChange(const UserChange& change);

// The root-only steps done in this process, on the files of sources. The shadow and passwd writes
// and the group and gshadow writes are the program's own, under shadow-utils' locks,
// read-decide-write with the lock held and one rename per file; the faillock tally is reset by faillock.
class LocalAdmin final : public AccountAdmin {
public:
    // lockWaitSeconds: how long a write waits for another program's lock on the account files.
    explicit LocalAdmin(AccountSources sources = {}, std::shared_ptr<ToolRunner> runner = nullptr,
                        int lockWaitSeconds = 15);

    ShadowState shadowState(const std::string& user) override;
    bool lockedOut(const std::string& user) override;
    void commit(const UserChange& change) override;
    void changeMembership(const std::string& group, const std::string& user, bool add) override;

private:
    PasswdEntry passwdEntry(const std::string& user) const;

    LocalAccounts m_accounts;
    std::shared_ptr<ToolRunner> m_runner;
    int m_lockWaitSeconds;
};

} // namespace unixacct
