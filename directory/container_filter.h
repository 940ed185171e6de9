#pragma once

#include <string_view>

#include "value.h"

namespace directory {

// The classes a domain's or computer's container enumerates: all until its "Filter" is set.
struct ContainerFilter {
    bool users = true;
    bool groups = true;
};

// True when property is the container's "Filter", in any case.
bool isFilterProperty(std::string_view property) noexcept;

// What a "Filter" value (an array of class names) selects: "User" and "Group", in any case; other
// names select nothing.
ContainerFilter parseContainerFilter(const Value& value);

} // namespace directory
