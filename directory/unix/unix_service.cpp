#include "unix_service.h"

#include "account_name.h"
#include "directory/object_path.h"
#include "unix_container.h"
#include "unix_context.h"
#include "unix_group.h"
#include "unix_user.h"

namespace unixacct {
namespace {

// Keeps the runner alive as long as any object of the service is.
struct OwningContext : UnixContext {
    OwningContext(AccountSources sources, std::shared_ptr<ToolRunner> runner,
                  std::function<bool(std::string_view)> isThisComputer)
        : UnixContext{LocalAccounts(std::move(sources)), *runner, std::move(isThisComputer)},
          ownedRunner(std::move(runner)) {}
    std::shared_ptr<ToolRunner> ownedRunner;
};

} // namespace

UnixService::UnixService(AccountSources sources, std::shared_ptr<ToolRunner> runner,
                         std::function<bool(std::string_view host)> isThisComputer)
    : m_runner(runner ? std::move(runner) : std::make_shared<SpawnToolRunner>()),
      m_context(std::make_shared<OwningContext>(std::move(sources), m_runner, std::move(isThisComputer))) {}

UnixService::~UnixService() = default;

std::unique_ptr<directory::Object> UnixService::bind(std::string_view pathText) {
    directory::ObjectPath path = directory::parsePathOrThrow(pathText);
    if (m_context->isThisComputer && !m_context->isThisComputer(path.host()))
        throw directory::Error(directory::codes::kNotFound, "The network path was not found.");

    if (path.isContainer()) {
        if (!path.className.empty() && !equalsNoCase(path.className, "Computer") &&
            !equalsNoCase(path.className, "Domain"))
            throw directory::Error(directory::codes::kUnknownObject, "Unknown directory object.");
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
            throw directory::Error(directory::codes::kNoSuchUser, "The user name could not be found.");
    }
    if (anyClass || equalsNoCase(path.className, "Group")) {
        if (auto group = m_context->accounts.findGroup(*path.name)) {
            path.className = "Group";
            return std::make_unique<UnixGroup>(m_context, std::move(path), std::move(*group));
        }
        throw directory::Error(anyClass ? directory::codes::kUnknownObject : directory::codes::kNoSuchGroup,
                               anyClass ? "There is no local account or group of that name."
                                        : "The group name could not be found.");
    }
    throw directory::Error(directory::codes::kUnknownObject, "Unknown directory object class.");
}

} // namespace unixacct
