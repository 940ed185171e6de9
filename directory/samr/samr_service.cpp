#include "samr_service.h"

#include <strings.h>

#include "directory/ldap/kerberos_ticket.h"
#include "directory/object_path.h"
#include "samr_container.h"
#include "samr_group.h"
#include "samr_pipe_cache.h"
#include "samr_user.h"

namespace samrdir {

namespace {

bool is(std::string_view text, std::string_view name) {
    return text.size() == name.size() && strncasecmp(text.data(), name.data(), name.size()) == 0;
}

} // namespace

SamrService::SamrService() : m_cache(SamrPipeCache::shared()) {}

std::unique_ptr<directory::Object> SamrService::bind(std::string_view path) {
    const directory::ObjectPath parsed = directory::parsePathOrThrow(path);
    const std::string& host = parsed.host();
    const auto ticket = ldapdir::KerberosTicket::current();
    bool reused = false;
    const auto pipe = m_cache.forHost(host, ticket.principal(), &reused);
    try {
        return bindOn(pipe, parsed, path);
    } catch (const directory::Error&) {
        if (!reused || !pipe->broken() || pipe->timedOut())
            throw;
    }
    // The computer dropped a pipe that had been open (it restarted, or closes idle connections):
    // once more, on a new one.
    return bindOn(m_cache.forHost(host, ticket.principal()), parsed, path);
}

std::unique_ptr<directory::Object> SamrService::bindOn(const std::shared_ptr<SamrPipe>& pipe,
                                                       const directory::ObjectPath& parsed, std::string_view path) {
    const std::string& host = parsed.host();
    if (parsed.isContainer()) {
        if (!parsed.className.empty() && !is(parsed.className, "Computer") && !is(parsed.className, "Domain"))
            throw directory::Error(directory::codes::kUnknownObject,
                                   host + " という " + parsed.className + " はありません。");
        return std::make_unique<SamrContainer>(pipe, host);
    }
    const bool wantUser = parsed.className.empty() || is(parsed.className, "User");
    const bool wantGroup = parsed.className.empty() || is(parsed.className, "Group");
    if (!wantUser && !wantGroup)
        throw directory::Error(directory::codes::kUnknownObject,
                               "クラス " + parsed.className + " のオブジェクトは扱えません: " + std::string(path));
    const std::string& name = *parsed.name;
    if (wantUser) {
        if (auto user = pipe->queryUserByName(name)) {
            std::string spelled = user->second.name;
            return std::make_unique<SamrUser>(pipe, host, user->first, std::move(user->second), std::move(spelled));
        }
    }
    if (wantGroup) {
        if (auto account = pipe->lookup(name); account && account->type == AccountType::Alias)
            return std::make_unique<SamrGroup>(pipe, host, std::move(*account));
        if (!wantUser)
            throw directory::Error(directory::codes::kNoSuchGroup,
                                   "グループ " + name + " は " + host + " にありません。");
    }
    throw directory::Error(directory::codes::kNoSuchUser, "ユーザー " + name + " は " + host + " にありません。");
}

} // namespace samrdir
