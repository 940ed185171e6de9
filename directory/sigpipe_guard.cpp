#include "sigpipe_guard.h"

#include <pthread.h>

#include <ctime>

namespace directory {

SigpipeGuard::SigpipeGuard() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    m_blocked = pthread_sigmask(SIG_BLOCK, &block, &m_previous) == 0;
}

SigpipeGuard::~SigpipeGuard() {
    if (!m_blocked)
        return;
    if (!m_wasPending) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{};
        while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

} // namespace directory
