#include "samr_container.h"

#include <strings.h>

#include <utility>
#include <vector>

#include "samr_group.h"
#include "samr_user.h"

namespace samrdir {

namespace {

bool is(std::string_view text, std::string_view name) {
    return text.size() == name.size() && strncasecmp(text.data(), name.data(), name.size()) == 0;
}

} // namespace

void SamrContainer::put(std::string_view property, const directory::Value& value) {
    if (!is(property, "Filter"))
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "コンピューターのプロパティ " + std::string(property) + " は扱えません。");
    bool users = false;
    bool groups = false;
    for (const auto& item : value.asArray()) {
        users = users || is(item.asText(), "User");
        groups = groups || is(item.asText(), "Group");
    }
    m_users = users;
    m_groups = groups;
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
