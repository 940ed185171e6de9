#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "service.h"

namespace directory {

// Sends each bind to the backend that serves the path's host: this computer's own accounts, a
// domain, or another computer's own accounts. A missing backend is a bind error, never a silent
// local answer.
//
// Without a computer backend every other target goes to the domain backend, as before. With one,
// WinNT://DOMAIN/COMPUTER/name goes to it at once; any other target is tried as a domain first
// (so domains wait no longer than they did), and when no domain answers for it, as a computer:
// when nothing answers LDAP there, when what answers is no Active Directory domain controller, and
// when the domain controller refuses the Kerberos bind. What served a target is remembered for the
// life of the service, except that a computer served only because the domain timed out or refused
// the bind is remembered for `rememberFailure`, after which the domain is tried again. A target
// that neither backend could reach is refused at once for `rememberFailure`.
class RoutingService final : public Service {
public:
    using LocalTest = std::function<bool(std::string_view host)>;

    RoutingService(LocalTest isThisComputer, Service* local, Service* domain, Service* computer = nullptr,
                   std::chrono::milliseconds rememberFailure = std::chrono::seconds(30))
        : m_isThisComputer(std::move(isThisComputer)), m_local(local), m_domain(domain), m_computer(computer),
          m_rememberFailure(rememberFailure) {}

    std::unique_ptr<Object> bind(std::string_view path) override;

private:
    enum class Route { Domain, Computer };
    struct Remembered {
        Route route;
        // Until when, for a route that may change; none for good.
        std::optional<std::chrono::steady_clock::time_point> until;
    };
    struct Failure {
        std::chrono::steady_clock::time_point at;
        Error error;
    };

    std::unique_ptr<Object> decide(const std::string& key, const std::string& target, std::string_view path);

    LocalTest m_isThisComputer;
    Service* m_local;
    Service* m_domain;
    Service* m_computer;
    std::chrono::milliseconds m_rememberFailure;
    std::mutex m_mutex;
    std::map<std::string, Remembered> m_routes;
    std::map<std::string, Failure> m_failures;
};

} // namespace directory
