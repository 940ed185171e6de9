#include "unix_service.h"

#include <unistd.h>

#include "account_name.h"
#include "helper_admin.h"
#include "local_admin.h"
#include "directory/object_path.h"
#include "unix_container.h"
#include "unix_context.h"
#include "unix_group.h"
#include "unix_user.h"

namespace unixacct {
namespace {

// Keeps the privileged side alive as long as any object of the service is.
struct OwningContext : UnixContext {
    OwningContext(AccountSources sources, std::shared_ptr<AccountAdmin> admin,
                  std::function<bool(std::string_view)> isThisComputer)
        : UnixContext{LocalAccounts(std::move(sources)), *admin, std::move(isThisComputer)},
          ownedAdmin(std::move(admin)) {}
    std::shared_ptr<AccountAdmin> ownedAdmin;
};

bool isSystemDatabase(const AccountSources& sources) {
    const AccountSources system;
    return sources.passwdPath == system.passwdPath && sources.shadowPath == system.shadowPath &&
           sources.groupPath == system.groupPath && sources.gshadowPath == system.gshadowPath &&
           sources.faillockConfPath == system.faillockConfPath && sources.pamAuthPaths == system.pamAuthPaths &&
           sources.loginDefsPath == system.loginDefsPath && sources.pamPasswordPath == system.pamPasswordPath &&
           sources.sudoersPath == system.sudoersPath;
}

// Root acts in this process; anyone else on the system's own files goes through the helper,
// started only when a step first needs it. Other files (fixtures) are never the helper's business.
std::shared_ptr<AccountAdmin> chooseAdmin(const AccountSources& sources, std::shared_ptr<ToolRunner> runner,
                                          std::shared_ptr<AccountAdmin> admin) {
    if (admin)
        return admin;
    if (::geteuid() != 0 && !runner && isSystemDatabase(sources))
        return std::make_shared<HelperAdmin>();
    return std::make_shared<LocalAdmin>(sources, std::move(runner));
}

} // namespace

UnixService::UnixService(AccountSources sources, std::shared_ptr<ToolRunner> runner,
                         std::function<bool(std::string_view host)> isThisComputer, std::shared_ptr<AccountAdmin> admin)
    : m_context(std::make_shared<OwningContext>(sources, chooseAdmin(sources, std::move(runner), std::move(admin)),
                                                std::move(isThisComputer))) {}

UnixService::~UnixService() = default;

std::unique_ptr<directory::Object> UnixService::bind(std::string_view pathText) {
    directory::ObjectPath path = directory::parsePathOrThrow(pathText);
    if (m_context->isThisComputer && !m_context->isThisComputer(path.host()))
        throw directory::Error(directory::codes::kNotFound,
                               "このコンピューターのアカウントではありません。対象を確かめてください。");

    if (path.isContainer()) {
        if (!path.className.empty() && !equalsNoCase(path.className, "Computer") &&
            !equalsNoCase(path.className, "Domain"))
            throw directory::Error(directory::codes::kUnknownObject,
                                   "このコンピューターにない種類のオブジェクトです。");
        return std::make_unique<UnixContainer>(m_context, std::move(path));
    }

    checkAccountName(*path.name);
    const bool anyClass = path.className.empty();
    if (anyClass || equalsNoCase(path.className, "User")) {
        if (auto user = m_context->accounts.findUser(*path.name)) {
            path.className = "User";
            return std::make_unique<UnixUser>(m_context, std::move(path), std::move(*user));
        }
        if (!anyClass)
            throw directory::Error(directory::codes::kNoSuchUser,
                                   "ローカルアカウント " + *path.name + " はありません。名前を確かめてください。");
    }
    if (anyClass || equalsNoCase(path.className, "Group")) {
        if (auto group = m_context->accounts.findGroup(*path.name)) {
            path.className = "Group";
            return std::make_unique<UnixGroup>(m_context, std::move(path), std::move(*group));
        }
        throw directory::Error(anyClass ? directory::codes::kUnknownObject : directory::codes::kNoSuchGroup,
                               (anyClass ? "ローカルアカウントもローカルグループも " : "ローカルグループ ") +
                                   *path.name + " はありません。名前を確かめてください。");
    }
    throw directory::Error(directory::codes::kUnknownObject, "このコンピューターにない種類のオブジェクトです。");
}

} // namespace unixacct
