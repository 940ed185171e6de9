#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace unixacct {

// What a finished tool left behind.
struct ToolResult {
    int exitStatus = 0;         // the exit code, or 128 + signal when killed
    std::string firstErrorLine; // first non-empty line of standard error
    bool timedOut = false;      // killed for running past the time limit
    int timeLimitSeconds = 0;
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
// messages are stable), every other descriptor closed, standard output discarded. Each tool runs
// in a process group of its own; one still running at the time limit is killed with its whole
// group, and the result says so.
class SpawnToolRunner final : public ToolRunner {
public:
    explicit SpawnToolRunner(int timeLimitSeconds = 30) : m_timeLimitSeconds(timeLimitSeconds) {}
    ToolResult run(const std::vector<std::string>& argv, std::string_view input) override;

private:
    int m_timeLimitSeconds;
};

// Waits at most `limit` for the child pid to end and reaps it. False when it still runs then.
bool waitChild(pid_t pid, int& status, std::chrono::milliseconds limit);

// The absolute path of a system tool, looked up in the sbin and bin directories only.
std::string systemToolPath(std::string_view name);

} // namespace unixacct
