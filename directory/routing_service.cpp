#include "routing_service.h"

#include <algorithm>
#include <cctype>

#include "object_path.h"

namespace directory {

namespace {

std::string key(std::string_view target) {
    while (!target.empty() && target.front() == ' ')
        target.remove_prefix(1);
    while (!target.empty() && (target.back() == ' ' || target.back() == '.'))
        target.remove_suffix(1);
    std::string out(target);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The domain backend found nothing answering for the target: no domain, no controller.
bool unreachable(const Error& error) {
    return error.number() == codes::kServerUnavailable || error.number() == codes::kTimeout;
}

} // namespace

std::unique_ptr<Object> RoutingService::bind(std::string_view path) {
    const ObjectPath parsed = parsePathOrThrow(path);
    // A target that another backend served before is no name of this computer: the test, which
    // reads the host's configuration, is not made again.
    std::string name = parsed.computer ? "/" : "";
    name += key(parsed.host());
    if (m_computer && m_domain) {
        const std::lock_guard lock(m_mutex);
        if (const auto route = m_routes.find(name); route != m_routes.end())
            return (route->second == Route::Domain ? m_domain : m_computer)->bind(path);
    }
    if (m_isThisComputer && m_isThisComputer(parsed.host())) {
        if (!m_local)
            throw Error(codes::kNotFound, "このコンピューターのアカウントを扱えません。");
        return m_local->bind(path);
    }
    if (m_computer && parsed.computer) {
        auto object = m_computer->bind(path);
        if (m_domain) {
            const std::lock_guard lock(m_mutex);
            m_routes[name] = Route::Computer;
        }
        return object;
    }
    if (!m_domain && !m_computer)
        throw Error(codes::kNotFound, "「" + parsed.host() + "」を扱うディレクトリ サービスがありません。");
    if (!m_computer)
        return m_domain->bind(path);
    if (!m_domain)
        return m_computer->bind(path);

    {
        const std::lock_guard lock(m_mutex);
        if (const auto failed = m_failures.find(name); failed != m_failures.end()) {
            if (std::chrono::steady_clock::now() - failed->second.at < m_rememberFailure)
                throw failed->second.error;
            m_failures.erase(failed);
        }
    }
    return decide(name, parsed.target, path);
}

std::unique_ptr<Object> RoutingService::decide(const std::string& name, const std::string& target,
                                               std::string_view path) {
    const auto remember = [&](Route route) {
        const std::lock_guard lock(m_mutex);
        m_routes[name] = route;
    };
    try {
        auto object = m_domain->bind(path);
        remember(Route::Domain);
        return object;
    } catch (const Error& domainError) {
        if (domainError.number() == codes::kLogonFailure)
            throw; // no ticket: the same for both, and nothing learnt
        if (!unreachable(domainError)) {
            remember(Route::Domain); // a domain answered, and refused or has no such account
            throw;
        }
        try {
            auto object = m_computer->bind(path);
            remember(Route::Computer);
            return object;
        } catch (const Error& computerError) {
            if (!unreachable(computerError)) {
                if (computerError.number() != codes::kLogonFailure)
                    remember(Route::Computer); // a computer answered
                throw;
            }
            const Error both(computerError.number(), "「" + target +
                                                         "」はドメインとしてもコンピューターとしても接続できません。" +
                                                         domainError.description() + " " + computerError.description());
            const std::lock_guard lock(m_mutex);
            m_failures.insert_or_assign(name, Failure{std::chrono::steady_clock::now(), both});
            throw both;
        }
    }
}

} // namespace directory
