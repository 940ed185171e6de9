#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/lock_opener.h"

namespace app {

// The front end's part of start-up: how the window is shown once it has loaded.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Called once the load handler has run; builds and shows the widgets for the form.
    virtual void show(LockOpener& window) = 0;
};

// The start-up module: keeps the command line and the one window.
class Main_Module {
public:
    explicit Main_Module(Environment env) : m_env(env) {}

    // Stores the command line, creates the window if needed, loads it and shows it.
    // Returns false when the load failed: the error has been reported and the program must end
    // with a non-zero status.
    [[nodiscard]] bool Main(std::string commandLineText, WindowHost& host);

    const std::string& CommandLine() const noexcept { return m_commandLine; }
    LockOpener* window() noexcept { return m_lockOpener.get(); }
    Form& form() noexcept { return m_form; }

private:
    Environment m_env;
    std::string m_commandLine;
    Form m_form;
    std::unique_ptr<LockOpener> m_lockOpener;
};

// The exit status after an escaped error.
inline constexpr int kEscapedErrorExitStatus = 1;

} // namespace app
