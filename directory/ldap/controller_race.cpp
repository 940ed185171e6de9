#include "controller_race.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Message 1, a search of the root DSE: base scope, size limit 1, (objectClass=*), attribute 1.1
// (none). Any answer to it shows a live LDAP server.
constexpr unsigned char kRootDseRead[] = {
    0x30, 0x2a,                                                          // LDAPMessage
    0x02, 0x01, 0x01,                                                    // messageID 1
    0x63, 0x25,                                                          // searchRequest
    0x04, 0x00,                                                          // baseObject ""
    0x0a, 0x01, 0x00,                                                    // scope baseObject
    0x0a, 0x01, 0x00,                                                    // derefAliases never
    0x02, 0x01, 0x01,                                                    // sizeLimit 1
    0x02, 0x01, 0x00,                                                    // timeLimit 0
    0x01, 0x01, 0x00,                                                    // typesOnly FALSE
    0x87, 0x0b, 'o',  'b',  'j', 'e', 'c', 't', 'C', 'l', 'a', 's', 's', // present objectClass
    0x30, 0x05, 0x04, 0x03, '1', '.', '1',                               // attributes
};

// One connection on its way: connecting, then asked.
struct Attempt {
    std::size_t candidate;
    int fd;
    bool asked = false;
};

// Closes what is still open on every way out.
struct Attempts {
    std::vector<Attempt> list;
    Attempts() = default;
    Attempts(const Attempts&) = delete;
    Attempts& operator=(const Attempts&) = delete;
    ~Attempts() {
        for (const Attempt& attempt : list)
            close(attempt.fd);
    }
};

} // namespace

RaceOutcome firstToAnswer(const std::vector<std::vector<Address>>& candidates, milliseconds limit,
                          milliseconds stagger) {
    const std::size_t count = candidates.size();
    std::vector<bool> started(count), connected(count);
    std::vector<int> open(count);
    const auto deadline = Clock::now() + limit;
    auto nextAt = Clock::now();
    std::size_t next = 0;
    Attempts attempts;
    RaceOutcome outcome;
    const auto judge = [&] {
        outcome.unreachable.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            outcome.unreachable[i] = started[i] && !connected[i] && (!outcome.winner || open[i] == 0);
        return outcome;
    };
    for (;;) {
        auto now = Clock::now();
        while (next < count && (now >= nextAt || attempts.list.empty())) {
            started[next] = true;
            for (const Address& address : candidates[next]) {
                const int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, address.protocol);
                if (fd < 0)
                    continue;
                if (connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0 ||
                    errno == EINPROGRESS) {
                    attempts.list.push_back({next, fd});
                    ++open[next];
                } else {
                    close(fd);
                }
            }
            ++next;
            nextAt = now + stagger;
        }
        if (attempts.list.empty())
            return judge();
        if (now >= deadline) {
            outcome.timedOut = true;
            return judge();
        }
        std::vector<pollfd> watch;
        for (const Attempt& attempt : attempts.list)
            watch.push_back({attempt.fd, static_cast<short>(attempt.asked ? POLLIN : POLLOUT), 0});
        const auto wakeAt = next < count ? std::min(deadline, nextAt) : deadline;
        const auto wait = std::chrono::ceil<milliseconds>(wakeAt - now).count();
        if (poll(watch.data(), watch.size(), static_cast<int>(std::max<milliseconds::rep>(wait, 0))) < 0 &&
            errno != EINTR)
            return judge();
        now = Clock::now();
        for (std::size_t i = watch.size(); i-- > 0;) {
            if (watch[i].revents == 0)
                continue;
            Attempt& attempt = attempts.list[i];
            bool failed = false;
            if (!attempt.asked) {
                int error = 0;
                socklen_t size = sizeof error;
                failed = getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0;
                if (!failed) {
                    connected[attempt.candidate] = true;
                    failed = send(attempt.fd, kRootDseRead, sizeof kRootDseRead, MSG_NOSIGNAL) !=
                             static_cast<ssize_t>(sizeof kRootDseRead);
                    attempt.asked = true;
                }
            } else {
                char byte = 0;
                const ssize_t got = recv(attempt.fd, &byte, 1, MSG_DONTWAIT);
                if (got > 0) {
                    outcome.winner = attempt.candidate;
                    return judge();
                }
                failed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            }
            if (!failed)
                continue;
            const std::size_t candidate = attempt.candidate;
            close(attempt.fd);
            attempts.list.erase(attempts.list.begin() + static_cast<std::ptrdiff_t>(i));
            // A candidate that failed outright makes no one wait for the next.
            if (--open[candidate] == 0 && candidate + 1 == next)
                nextAt = now;
        }
    }
}

} // namespace ldapdir
