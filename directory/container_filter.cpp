#include "container_filter.h"

#include <cctype>

namespace directory {

namespace {

bool sameNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool isFilterProperty(std::string_view property) noexcept {
    return sameNoCase(property, "Filter");
}

ContainerFilter parseContainerFilter(const Value& value) {
    ContainerFilter filter{false, false};
    for (const Value& item : value.asArray()) {
        filter.users = filter.users || sameNoCase(item.asText(), "User");
        filter.groups = filter.groups || sameNoCase(item.asText(), "Group");
    }
    return filter;
}

} // namespace directory
