#pragma once

#include <map>
#include <set>
#include <string>

#include "local_accounts.h"
#include "sudoers.h"

namespace unixacct {

// The accounts and groups that administer this computer, which a caller granted only the helper
// must not reach: the groups sudo, wheel and admin and every group the sudoers files name (by
// name or gid, with every group line of the same gid), their members (listed in group or gshadow,
// as a member or a group administrator, or by primary group), and the users the sudoers files
// name; an account sharing an administrator's uid is one too.
class Administrators {
public:
    // Reads passwd, group, gshadow and the sudoers files afresh. Throws directory::Error (access
    // denied) when any of them cannot be read or parsed.
    explicit Administrators(const AccountSources& sources);

    // Why user administers this computer, for the operator's message; empty when it does not.
    std::string reason(const PasswdEntry& user) const;
    bool administers(const GroupEntry& group) const;
    // The sudoers files grant ALL or a netgroup: anyone may be an administrator.
    bool everyone() const noexcept { return m_sudoers.everyone; }

private:
    SudoersNames m_sudoers;
    std::set<std::string> m_groupNames;
    std::map<gid_t, std::string> m_gids;          // administrators' gid → a group name for it
    std::map<std::string, std::string> m_members; // member name → the group that makes it one
    std::map<uid_t, std::string> m_uids;          // uid of an administrator → why
};

} // namespace unixacct
