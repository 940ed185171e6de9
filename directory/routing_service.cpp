#include "routing_service.h"

#include "object_path.h"

namespace directory {

std::unique_ptr<Object> RoutingService::bind(std::string_view path) {
    const ObjectPath parsed = parsePathOrThrow(path);
    if (m_isThisComputer && m_isThisComputer(parsed.host())) {
        if (!m_local)
            throw Error(codes::kNotFound, "このコンピューターのアカウントを扱えません。");
        return m_local->bind(path);
    }
    if (!m_domain)
        throw Error(codes::kNotFound, "「" + parsed.host() + "」を扱うディレクトリ サービスがありません。");
    return m_domain->bind(path);
}

} // namespace directory
