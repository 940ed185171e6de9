#pragma once

#include <pthread.h>
#include <signal.h>

namespace unixacct {

// Writing to a child that has already exited must not end this program with SIGPIPE: the signal
// is blocked for the write and a pending one is taken away before the mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &m_oldMask);
    }
    ~SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec zero{0, 0};
            sigtimedwait(&pipeOnly, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_oldMask{};
    bool m_wasPending = false;
};

} // namespace unixacct
