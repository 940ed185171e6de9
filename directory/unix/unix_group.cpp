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
                           "ローカルグループにはプロパティ " + std::string(property) + " がありません。");
}

void UnixGroup::setInfo() {}

std::string UnixGroup::description() {
    return {};
}

std::string UnixGroup::memberName(const std::string& memberPath, gid_t& primaryGid) const {
    const directory::ObjectPath path = directory::parsePathOrThrow(memberPath);
    if (path.isContainer() || !(path.className.empty() || equalsNoCase(path.className, "User")))
        throw directory::Error(directory::codes::kBadParameter,
                               "ローカルグループのメンバーにできるのはユーザーだけです。");
    if (m_context->isThisComputer && !m_context->isThisComputer(path.host()))
        throw directory::Error(directory::codes::kBadParameter,
                               "ローカルグループのメンバーにできるのは、このコンピューターのアカウントだけです。");
    checkAccountName(*path.name);
    const auto user = m_context->accounts.findUser(*path.name);
    if (!user)
        throw directory::Error(directory::codes::kNoSuchUser,
                               "ローカルアカウント " + *path.name + " はありません。名前を確かめてください。");
    primaryGid = user->gid;
    return user->name;
}

UnixGroup::Membership UnixGroup::membership(const std::string& memberPath) const {
    gid_t primaryGid = 0;
    Membership result;
    result.user = memberName(memberPath, primaryGid);
    const auto current = m_context->accounts.findGroup(m_entry.name);
    if (!current)
        throw directory::Error(directory::codes::kNoSuchGroup,
                               "ローカルグループ " + m_entry.name + " はありません。名前を確かめてください。");
    const auto& members = current->members;
    result.byPrimaryGroup = primaryGid == current->gid;
    result.listed = std::find(members.begin(), members.end(), result.user) != members.end();
    return result;
}

void UnixGroup::add(const std::string& memberPath) {
    const Membership m = membership(memberPath);
    if (m.byPrimaryGroup || m.listed)
        throw directory::Error(directory::codes::kMemberInGroup,
                               m.user + " はすでにグループ " + m_entry.name + " のメンバーです。");
    m_context->admin.changeMembership(m_entry.name, m.user, true);
}

void UnixGroup::remove(const std::string& memberPath) {
    const Membership m = membership(memberPath);
    if (!m.listed) {
        const std::string why = m.byPrimaryGroup
                                    ? m_entry.name + " は " + m.user +
                                          " の主グループなので外せません。主グループは usermod -g で変えてください。"
                                    : m.user + " はグループ " + m_entry.name + " のメンバーではありません。";
        throw directory::Error(directory::codes::kMemberNotInGroup, why);
    }
    m_context->admin.changeMembership(m_entry.name, m.user, false);
}

} // namespace unixacct
