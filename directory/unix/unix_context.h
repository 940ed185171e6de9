#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/object_path.h"
#include "account_admin.h"
#include "local_accounts.h"
#include "tool_runner.h"

namespace unixacct {

// What every object of one UnixService shares.
struct UnixContext {
    LocalAccounts accounts; // passwd and group: readable by anyone, read in this process
    AccountAdmin& admin;    // everything that needs root
    // Which hosts a member path given to a group may name; empty accepts any.
    std::function<bool(std::string_view host)> isThisComputer;
};

// Runs a tool and turns a non-zero exit into directory::Error carrying the tool's name, its exit
// status and the first line of its standard error (access denied when the tool says so).
void runTool(ToolRunner& runner, const std::vector<std::string>& argv, std::string_view input = {});

// The path of an object of the same host as base: WinNT://target[/computer]/name,Class.
std::string objectPathText(const directory::ObjectPath& base, std::string_view name, std::string_view className);

// ASCII case-insensitive equality, for class and property names.
bool equalsNoCase(std::string_view a, std::string_view b) noexcept;

} // namespace unixacct
