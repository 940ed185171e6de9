#include "unix_container.h"

#include "unix_group.h"
#include "unix_user.h"

namespace unixacct {

UnixContainer::UnixContainer(std::shared_ptr<const UnixContext> context, directory::ObjectPath path)
    : m_context(std::move(context)), m_path(std::move(path)) {}

std::string UnixContainer::name() {
    return m_path.host();
}

std::string UnixContainer::adsPath() {
    return directory::containerPath(m_path.target);
}

void UnixContainer::put(std::string_view property, const directory::Value& value) {
    if (!equalsNoCase(property, "Filter"))
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "このコンピューターにはプロパティ " + std::string(property) + " がありません。");
    std::vector<std::string> filter;
    for (const directory::Value& item : value.asArray())
        filter.push_back(item.asText());
    m_filter = std::move(filter);
}

void UnixContainer::setInfo() {}

bool UnixContainer::wants(std::string_view className) const {
    if (m_filter.empty())
        return true;
    for (const std::string& wanted : m_filter)
        if (equalsNoCase(wanted, className))
            return true;
    return false;
}

void UnixContainer::enumerate(const std::function<void(directory::Object&)>& visit) {
    if (wants("User")) {
        m_context->accounts.forEachUser([&](const PasswdEntry& entry) {
            directory::ObjectPath path = m_path;
            path.name = entry.name;
            path.className = "User";
            UnixUser user(m_context, std::move(path), entry);
            visit(user);
            return true;
        });
    }
    if (wants("Group")) {
        m_context->accounts.forEachGroup([&](const GroupEntry& entry) {
            directory::ObjectPath path = m_path;
            path.name = entry.name;
            path.className = "Group";
            UnixGroup group(m_context, std::move(path), entry);
            visit(group);
            return true;
        });
    }
}

} // namespace unixacct
