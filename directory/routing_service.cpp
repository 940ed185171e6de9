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
        if (const auto known = m_routes.find(name); known != m_routes.end()) {
            const Remembered& remembered = known->second;
            if (!remembered.until || std::chrono::steady_clock::now() < *remembered.until)
                return (remembered.route == Route::Domain ? m_domain : m_computer)->bind(path);
            m_routes.erase(known);
        }
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
            m_routes[name] = Remembered{Route::Computer, std::nullopt};
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
    const auto remember = [&](Route route, bool forGood) {
        const std::lock_guard lock(m_mutex);
        m_routes[name] = Remembered{
            route, forGood ? std::nullopt : std::optional(std::chrono::steady_clock::now() + m_rememberFailure)};
    };
    try {
        auto object = m_domain->bind(path);
        remember(Route::Domain, true);
        return object;
    } catch (const Error& domainError) {
        const long number = domainError.number();
        // No domain controller there: nothing answers LDAP, or what answers is no AD DC. A
        // time-out may end, and a refused Kerberos bind may be mended (no ticket is refused alike
        // by both backends).
        const bool noDomain = unreachable(domainError) || number == codes::kNotFound;
        if (!noDomain && number != codes::kLogonFailure) {
            remember(Route::Domain, true); // a domain answered, and refused or has no such account
            throw;
        }
        const bool forGood = number == codes::kServerUnavailable || number == codes::kNotFound;
        try {
            auto object = m_computer->bind(path);
            remember(Route::Computer, forGood);
            return object;
        } catch (const Error& computerError) {
            const bool computerAnswered = !unreachable(computerError) && computerError.number() != codes::kLogonFailure;
            if (computerAnswered)
                remember(Route::Computer, forGood);
            if (number == codes::kLogonFailure && !computerAnswered)
                throw domainError; // the controller's refusal says more
            if (!unreachable(computerError))
                throw;
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
