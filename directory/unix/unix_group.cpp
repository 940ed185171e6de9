#include "unix_group.h"

#include <algorithm>

#include "account_name.h"

namespace unixacct {

UnixGroup::UnixGroup(std::shared_ptr<const UnixContext> context, directory::ObjectPath path, GroupEntry entry)
    : m_context(std::move(context)), m_path(std::move(path)), m_entry(std::move(entry)) {}

std::string UnixGroup::name() {
    return m_entry.name;
}

std::string UnixGroup::adsPath() {
    return objectPathText(m_path, m_entry.name, "Group");
}

void UnixGroup::put(std::string_view property, const directory::Value&) {
    throw directory::Error(directory::codes::kPropertyNotSupported,
                           "The property " + std::string(property) + " is not supported by local groups.");
}

void UnixGroup::setInfo() {}

std::string UnixGroup::description() {
    return {};
}

std::string UnixGroup::memberName(const std::string& memberPath, gid_t& primaryGid) const {
    const directory::ObjectPath path = directory::parsePathOrThrow(memberPath);
    if (path.isContainer() || !(path.className.empty() || equalsNoCase(path.className, "User")))
        throw directory::Error(directory::codes::kBadParameter, "Only a user can be a member of a local group.");
    if (m_context->isThisComputer && !m_context->isThisComputer(path.host()))
        throw directory::Error(directory::codes::kBadParameter,
                               "A local group can only hold accounts of this computer.");
    checkAccountName(*path.name);
    const auto user = m_context->accounts.findUser(*path.name);
    if (!user)
        throw directory::Error(directory::codes::kNoSuchUser, "The user name could not be found.");
    primaryGid = user->gid;
    return user->name;
}

UnixGroup::Membership UnixGroup::membership(const std::string& memberPath) const {
    gid_t primaryGid = 0;
    Membership result;
    result.user = memberName(memberPath, primaryGid);
    const auto current = m_context->accounts.findGroup(m_entry.name);
    if (!current)
        throw directory::Error(directory::codes::kNoSuchGroup, "The group name could not be found.");
    const auto& members = current->members;
    result.byPrimaryGroup = primaryGid == current->gid;
    result.listed = std::find(members.begin(), members.end(), result.user) != members.end();
    return result;
}

void UnixGroup::add(const std::string& memberPath) {
    const Membership m = membership(memberPath);
    if (m.byPrimaryGroup || m.listed)
        throw directory::Error(directory::codes::kMemberInGroup, "The account is already a member of the group.");
    runTool(*m_context, {systemToolPath("gpasswd"), "-a", m.user, m_entry.name});
}

void UnixGroup::remove(const std::string& memberPath) {
    const Membership m = membership(memberPath);
    if (!m.listed) {
        const char* why = m.byPrimaryGroup ? "The group is the account's primary group; change it with usermod -g."
                                           : "The account is not a member of the group.";
        throw directory::Error(directory::codes::kMemberNotInGroup, why);
    }
    runTool(*m_context, {systemToolPath("gpasswd"), "-d", m.user, m_entry.name});
}

} // namespace unixacct
