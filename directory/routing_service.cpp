#include "routing_service.h"

#include "object_path.h"

namespace directory {

std::unique_ptr<Object> RoutingService::bind(std::string_view path) {
    const ObjectPath parsed = parsePathOrThrow(path);
    if (m_isThisComputer && m_isThisComputer(parsed.host())) {
        if (!m_local)
            throw Error(codes::kNotFound, "This computer's own accounts cannot be reached");
        return m_local->bind(path);
    }
    if (!m_domain)
        throw Error(codes::kNotFound, "No directory service serves \"" + parsed.host() + "\"");
    return m_domain->bind(path);
}

} // namespace directory
