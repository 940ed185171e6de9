#pragma once

#include <signal.h>

namespace directory {

// Writing to a dropped connection or to a child that has exited raises SIGPIPE, which would end
// the program. Blocks it on this thread for the guard's life and swallows one raised meanwhile; the program's
// own handling of the signal is left as it was.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_previous{};
    bool m_blocked = false;
    bool m_wasPending = false;
};

} // namespace directory
