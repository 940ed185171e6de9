#include "ldap_container.h"

#include <ldap.h>

#include "directory/container_filter.h"
#include "ad_values.h"
#include "ldap_user.h"
#include "long_search.h"

namespace ldapdir {

LdapContainer::LdapContainer(std::shared_ptr<Connection> connection, LdapGroup::MemberResolver resolveMember)
    : m_connection(std::move(connection)), m_resolveMember(std::move(resolveMember)) {}

std::string LdapContainer::name() {
    return m_connection->domain().netbiosName;
}

std::string LdapContainer::adsPath() {
    return "WinNT://" + name();
}

void LdapContainer::put(std::string_view property, const directory::Value& value) {
    if (!directory::isFilterProperty(property))
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "ドメインのプロパティ " + std::string(property) + " は扱えません。");
    const directory::ContainerFilter filter = directory::parseContainerFilter(value);
    m_users = filter.users;
    m_groups = filter.groups;
}

void LdapContainer::enumerate(const std::function<void(directory::Object&)>& visit) {
    if (!m_users && !m_groups)
        return;
    const bool both = m_users && m_groups;
    const std::string filter = both      ? std::string("(|") + kUserFilter + kGroupFilter + ")"
                               : m_users ? kUserFilter
                                         : kGroupFilter;
    // Only the name: the objects read the rest themselves when they are asked for more.
    std::vector<std::string> attributes{"sAMAccountName"};
    if (both)
        attributes.push_back("sAMAccountType");
    searchAll(*m_connection, m_connection->domain().defaultNamingContext, LDAP_SCOPE_SUBTREE, filter, attributes,
              [&](Entry& entry) {
                  const bool group =
                      both ? accountKind(entry.first("sAMAccountType").value_or("")) == AccountKind::Group : !m_users;
                  if (group) {
                      LdapGroup object(m_connection, std::move(entry), m_resolveMember);
                      visit(object);
                  } else {
                      LdapUser object(m_connection, std::move(entry), false, m_resolveMember);
                      visit(object);
                  }
              });
}

} // namespace ldapdir
