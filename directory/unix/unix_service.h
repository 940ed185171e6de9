#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "directory/service.h"
#include "local_accounts.h"
#include "tool_runner.h"

namespace unixacct {

struct UnixContext;

// This computer's own accounts behind the directory interface. Binds:
//   WinNT://host/name,User and WinNT://host/name (a user, else a group of that name)
//   WinNT://host/name,Group
//   WinNT://host (the container of all local accounts)
// Names are checked before anything else runs: a name that could become an option or a second
// file field (see isSafeAccountName) is a bind error. Reads never start a process; writes run
// the shadow tools with the program's own privileges, so without root they fail and change nothing.
class UnixService final : public directory::Service {
public:
    // runner: how tools are run (the real spawner when null). isThisComputer: which hosts the
    // service answers for and group members may name; empty accepts any (the caller routed already).
    explicit UnixService(AccountSources sources = {}, std::shared_ptr<ToolRunner> runner = nullptr,
                         std::function<bool(std::string_view host)> isThisComputer = {});
    ~UnixService() override;

    std::unique_ptr<directory::Object> bind(std::string_view path) override;

private:
    std::shared_ptr<ToolRunner> m_runner;
    std::shared_ptr<const UnixContext> m_context;
};

} // namespace unixacct
