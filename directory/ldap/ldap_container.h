#pragma once

#include <memory>
#include <vector>

#include "connection.h"
#include "directory/service.h"
#include "ldap_group.h"

namespace ldapdir {

// The domain itself, as a container of its accounts. put("Filter", array of class names) picks
// what enumerate yields: "User", "Group"; without a filter both. Items come in the directory's
// order, and only once the server has sent the whole list (searchAll).
class LdapContainer final : public directory::Container {
public:
    LdapContainer(std::shared_ptr<Connection> connection, LdapGroup::MemberResolver resolveMember);

    std::string name() override;
    std::string adsPath() override;
    void put(std::string_view property, const directory::Value& value) override;
    // The domain's own properties are not written through this program; nothing is pending.
    void setInfo() override {}
    void enumerate(const std::function<void(directory::Object&)>& visit) override;

private:
    std::shared_ptr<Connection> m_connection;
    LdapGroup::MemberResolver m_resolveMember;
    bool m_users = true;
    bool m_groups = true;
};

} // namespace ldapdir
