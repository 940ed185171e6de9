#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace unixacct {

// What a finished tool left behind.
struct ToolResult {
    int exitStatus = 0;         // the exit code, or 128 + signal when killed
    std::string firstErrorLine; // first non-empty line of standard error
};

// Runs the account tools. The account code talks to this interface so tests can record what
// would run without running it.
class ToolRunner {
public:
    virtual ~ToolRunner() = default;
    // Runs argv[0] (an absolute path) with argv, no shell, a minimal environment and `input` on
    // standard input. Throws directory::Error when the program cannot be started.
    virtual ToolResult run(const std::vector<std::string>& argv, std::string_view input) = 0;
};

// posix_spawn with a clean environment (PATH of the system directories, LC_ALL=C so the
// messages are stable), every other descriptor closed, standard output discarded.
class SpawnToolRunner final : public ToolRunner {
public:
    ToolResult run(const std::vector<std::string>& argv, std::string_view input) override;
};

// The absolute path of a system tool, looked up in the sbin and bin directories only.
std::string systemToolPath(std::string_view name);

} // namespace unixacct
