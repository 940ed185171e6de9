#pragma once

#include <functional>
#include <string_view>

#include "service.h"

namespace directory {

// Sends each bind to the backend that serves the path's host: this computer's own accounts, or
// a domain. A missing domain backend is a bind error, never a silent local answer.
class RoutingService final : public Service {
public:
    using LocalTest = std::function<bool(std::string_view host)>;

    RoutingService(LocalTest isThisComputer, Service* local, Service* domain)
        : m_isThisComputer(std::move(isThisComputer)), m_local(local), m_domain(domain) {}

    std::unique_ptr<Object> bind(std::string_view path) override;

private:
    LocalTest m_isThisComputer;
    Service* m_local;
    Service* m_domain;
};

} // namespace directory
