#pragma once

#include <signal.h>

namespace ldapdir {

// Writing to a connection the server has dropped raises SIGPIPE, which would end the program.
// Blocks it on this thread while libldap works and swallows one raised meanwhile; the program's
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

} // namespace ldapdir
