#include "administrators.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "account_files.h"
#include "directory/error.h"

namespace unixacct {
namespace {

// The groups whose members administer a computer by convention (Debian's sudo, the wheel of
// Red Hat and the BSDs, Ubuntu's old admin), whatever the sudoers files say.
const char* const kAdministratorGroups[] = {"sudo", "wheel", "admin"};

std::vector<std::string> commaList(const std::string& field) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = field.find(',', start);
        std::string name = field.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty())
            names.push_back(std::move(name));
        if (comma == std::string::npos)
            return names;
        start = comma + 1;
    }
}

} // namespace

Administrators::Administrators(const AccountSources& sources) : m_sudoers(readSudoers(sources.sudoersPath)) {
    m_groupNames.insert(std::begin(kAdministratorGroups), std::end(kAdministratorGroups));
    m_groupNames.insert(m_sudoers.groups.begin(), m_sudoers.groups.end());
    for (const gid_t gid : m_sudoers.gids)
        m_gids.emplace(gid, "GID " + std::to_string(gid));

    // sudo compares group ids: every group line of an administrators' gid is one of them.
    const LocalAccounts accounts(sources);
    std::vector<GroupEntry> groups;
    accounts.forEachGroup([&](const GroupEntry& g) {
        groups.push_back(g);
        return true;
    });
    for (const GroupEntry& g : groups)
        if (m_groupNames.count(g.name))
            m_gids[g.gid] = g.name;
    for (const GroupEntry& g : groups) {
        if (!m_gids.count(g.gid))
            continue;
        m_groupNames.insert(g.name);
        for (const std::string& member : g.members)
            m_members.emplace(member, g.name);
    }

    // gshadow's members and group administrators take the group with newgrp.
    if (::access(sources.gshadowPath.c_str(), F_OK) == 0) {
        std::ifstream in(sources.gshadowPath);
        if (!in)
            throw directory::Error(directory::codes::kAccessDenied,
                                   sources.gshadowPath + " を読めません（" + errnoText(errno) + "）。");
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos)
                continue;
            const std::vector<std::string> f = splitFields(line.substr(start));
            if (f.size() < 4 || !m_groupNames.count(f[0]))
                continue;
            for (const std::size_t field : {2, 3})
                for (const std::string& member : commaList(f[field]))
                    m_members.emplace(member, f[0]);
        }
        if (in.bad())
            throw directory::Error(directory::codes::kAccessDenied, sources.gshadowPath + " を読めません。");
    }

    // sudo finds the caller's name and groups by uid: an account sharing an administrator's uid is one.
    accounts.forEachUser([&](const PasswdEntry& user) {
        std::string why = reason(user);
        if (!why.empty())
            m_uids.emplace(user.uid, std::move(why));
        return true;
    });
}

std::string Administrators::reason(const PasswdEntry& user) const {
    if (m_sudoers.users.count(user.name))
        return "sudoers に名前のあるアカウント";
    if (m_sudoers.uids.count(user.uid))
        return "sudoers に UID " + std::to_string(user.uid) + " のあるアカウント";
    if (const auto primary = m_gids.find(user.gid); primary != m_gids.end())
        return "主グループが " + primary->second + " のアカウント";
    if (const auto member = m_members.find(user.name); member != m_members.end())
        return "グループ " + member->second + " のメンバー";
    if (const auto same = m_uids.find(user.uid); same != m_uids.end())
        return "UID " + std::to_string(user.uid) + " が同じ、" + same->second;
    return {};
}

bool Administrators::administers(const GroupEntry& group) const {
    return m_groupNames.count(group.name) || m_gids.count(group.gid);
}

} // namespace unixacct
