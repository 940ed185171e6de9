#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "directory/service.h"
#include "account_admin.h"
#include "local_accounts.h"
#include "tool_runner.h"

namespace unixacct {

struct UnixContext;

// This computer's own accounts behind the directory interface. Binds:
//   WinNT://host/name,User and WinNT://host/name (a user, else a group of that name)
//   WinNT://host/name,Group
//   WinNT://host (the container of all local accounts)
// Names are checked before anything else runs: a name that could become an option or a second
// file field (see isSafeAccountName) is a bind error. passwd and group are read in this process;
// the shadow state, the faillock tally and every write go to an AccountAdmin: in-process for root,
// else the privileged helper started through pkexec the first time one is needed.
class UnixService final : public directory::Service {
public:
    // runner: how the in-process side runs tools (the real spawner when null). isThisComputer:
    // which hosts the service answers for and group members may name; empty accepts any (the
    // caller routed already). admin: who does the root steps; when null, this process for root,
    // for a runner of its own or for files other than the system's, else the helper.
    explicit UnixService(AccountSources sources = {}, std::shared_ptr<ToolRunner> runner = nullptr,
                         std::function<bool(std::string_view host)> isThisComputer = {},
                         std::shared_ptr<AccountAdmin> admin = nullptr);
    ~UnixService() override;

    std::unique_ptr<directory::Object> bind(std::string_view path) override;

private:
    std::shared_ptr<const UnixContext> m_context;
};

} // namespace unixacct
