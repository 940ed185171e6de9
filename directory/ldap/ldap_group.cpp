#include "ldap_group.h"

#include <ldap.h>
#include <strings.h>

#include "ad_values.h"
#include "ldap_failure.h"

namespace ldapdir {

const std::vector<std::string>& LdapGroup::attributes() {
    static const std::vector<std::string> kAttributes{"sAMAccountName", "description"};
    return kAttributes;
}

LdapGroup::LdapGroup(std::shared_ptr<Connection> connection, Entry entry, MemberResolver resolveMember)
    : BoundEntry(std::move(connection), std::move(entry)), m_resolveMember(std::move(resolveMember)) {}

void LdapGroup::put(std::string_view property, const directory::Value& value) {
    if (property.size() == 11 && strncasecmp(property.data(), "Description", 11) == 0) {
        m_pendingDescription = value.asText();
        return;
    }
    throw directory::Error(directory::codes::kPropertyNotSupported,
                           "グループのプロパティ " + std::string(property) + " は扱えません。");
}

void LdapGroup::setInfo() {
    if (!m_pendingDescription)
        return;
    std::vector<Modification> changes;
    if (m_pendingDescription->empty())
        changes.emplace_back(LDAP_MOD_REPLACE, "description", std::vector<std::string>{});
    else
        changes.emplace_back(LDAP_MOD_REPLACE, "description", std::vector<std::string>{*m_pendingDescription});
    const std::string wanted = *m_pendingDescription;
    Connection& at = writer();
    at.modify(distinguishedName(), changes, [&](bool) {
        const auto now = at.findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", {"description"});
        if (!now)
            throw directory::Error(directory::codes::kNoSuchGroup, "グループ " + name() + " は存在しません。");
        return now->first("description").value_or("") == wanted ? Held::Yes : Held::No;
    });
    m_pendingDescription.reset();
}

std::string LdapGroup::description() {
    return entry().first("description").value_or("");
}

void LdapGroup::add(const std::string& memberPath) {
    changeMember(memberPath, true);
}

void LdapGroup::remove(const std::string& memberPath) {
    changeMember(memberPath, false);
}

void LdapGroup::changeMember(const std::string& memberPath, bool adding) {
    const std::string member = m_resolveMember(memberPath);
    std::vector<Modification> changes;
    changes.emplace_back(adding ? LDAP_MOD_ADD : LDAP_MOD_DELETE, "member", std::vector<std::string>{member});
    // The group lists the member or not: a base search for exactly that value says which.
    const std::string filter = "(member=" + escapeFilterValue(member) + ")";
    Connection& at = writer();
    const auto holds = [&](bool) {
        const bool listed = at.findOne(distinguishedName(), LDAP_SCOPE_BASE, filter, {"sAMAccountName"}).has_value();
        return listed == adding ? Held::Yes : Held::No;
    };
    try {
        at.modify(distinguishedName(), changes, holds);
    } catch (const LdapFailure& failure) {
        const int code = failure.resultCode();
        if (adding && (code == LDAP_TYPE_OR_VALUE_EXISTS || code == LDAP_ALREADY_EXISTS))
            throw directory::Error(directory::codes::kMemberInGroup,
                                   memberPath + " は既にグループ " + name() + " のメンバーです。");
        if (!adding && (code == LDAP_NO_SUCH_ATTRIBUTE || code == LDAP_UNWILLING_TO_PERFORM))
            throw directory::Error(directory::codes::kMemberNotInGroup,
                                   memberPath + " はグループ " + name() + " のメンバーではありません。");
        throw;
    }
}

} // namespace ldapdir
