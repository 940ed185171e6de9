#include "samr_container.h"

#include <utility>
#include <vector>

#include "directory/container_filter.h"
#include "samr_group.h"
#include "samr_user.h"

namespace samrdir {

void SamrContainer::put(std::string_view property, const directory::Value& value) {
    if (!directory::isFilterProperty(property))
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "コンピューターのプロパティ " + std::string(property) + " は扱えません。");
    const directory::ContainerFilter filter = directory::parseContainerFilter(value);
    m_users = filter.users;
    m_groups = filter.groups;
}

void SamrContainer::enumerate(const std::function<void(directory::Object&)>& visit) {
    // Each whole list first: a visitor may call the pipe itself.
    if (m_users) {
        std::vector<std::pair<std::uint32_t, std::string>> users;
        m_pipe->enumerateUsers([&](std::uint32_t rid, const std::string& name) { users.emplace_back(rid, name); });
        for (auto& [rid, name] : users) {
            SamrUser user(m_pipe, m_host, rid, std::nullopt, std::move(name));
            visit(user);
        }
    }
    if (m_groups) {
        for (auto& alias : m_pipe->aliases()) {
            SamrGroup group(m_pipe, m_host, std::move(alias));
            visit(group);
        }
    }
}

} // namespace samrdir
