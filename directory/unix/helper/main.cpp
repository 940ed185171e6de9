// quillmarsh-local-accounts: the root side of the window's work on this computer's own accounts.
// Started through pkexec (or by root); reads requests on standard input, one answer each on
// standard output, and ends when its input closes. See protocol.h.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "directory/error.h"
#include "directory/secret.h"
#include "directory/unix/account_files.h"
#include "directory/unix/local_admin.h"
#include "protocol.h"

namespace {

using namespace unixacct;

// pkexec runs us with every id 0 and PKEXEC_UID naming the authorised caller, whose reach stops
// short of root and the system's accounts; root may run us directly and keeps all of it. A set-id
// start or any other caller is refused.
std::optional<Caller> allowedCaller() {
    if (::geteuid() != 0 || ::getuid() != 0 || ::getegid() != ::getgid())
        return std::nullopt;
    const char* caller = std::getenv("PKEXEC_UID");
    if (!caller)
        return Caller{0, false};
    unsigned long uid = 0;
    const char* end = caller + std::strlen(caller);
    const auto [at, ec] = std::from_chars(caller, end, uid);
    if (!*caller || ec != std::errc() || at != end || uid >= static_cast<uid_t>(-1))
        return std::nullopt;
    return Caller{static_cast<uid_t>(uid), true};
}

bool writeLine(std::string line) {
    line += '\n';
    return unixacct::writeAll(STDOUT_FILENO, line);
}

std::string answer(const helper::Request& request, AccountAdmin& admin) {
    using helper::Operation;
    try {
        switch (request.operation) {
        case Operation::Hello:
            return helper::okResponse({});
        case Operation::Shadow: {
            const ShadowState s = admin.shadowState(request.change.user);
            return helper::okResponse(
                {s.passwordLocked ? "1" : "0", std::to_string(s.lastChange), std::to_string(s.expire)});
        }
        case Operation::Lockout:
            return helper::okResponse({admin.lockedOut(request.change.user) ? "1" : "0"});
        case Operation::Commit:
            admin.commit(request.change);
            return helper::okResponse({});
        case Operation::AddMember:
        case Operation::RemoveMember:
            admin.changeMembership(request.group, request.change.user, request.operation == Operation::AddMember);
            return helper::okResponse({});
        }
    } catch (const directory::Error& e) {
        return helper::errorResponse(e.number(), e.description());
    } catch (const std::exception&) {
        return helper::errorResponse(directory::codes::kFail,
                                     "アカウント管理用のヘルパーで予期しない失敗が起きました。");
    }
    return helper::errorResponse(directory::codes::kFail, "知らない操作です。");
}

} // namespace

int main() {
    const std::optional<Caller> caller = allowedCaller();
    if (!caller) {
        static const char kRefused[] = "quillmarsh-local-accounts: run through pkexec or as root\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kRefused, sizeof kRefused - 1);
        return 126;
    }
    // A caller that goes away must not kill a write halfway: a failed answer is simply the end.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGINT, SIG_IGN);
    ::umask(022);
    if (::chdir("/") != 0)
        return 1;
    ::setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    ::setenv("LC_ALL", "C", 1);
    ::openlog("quillmarsh-local-accounts", LOG_PID, LOG_AUTHPRIV); // each change leaves one line

    LocalAdmin admin({}, nullptr, 15, *caller); // the system's own files, whatever the caller would like
    char chunk[4096];
    std::string buffer;
    // Never grows past this, so no reallocation leaves a copy of a password behind.
    buffer.reserve(helper::kMaxLineLength + sizeof chunk + 1);
    bool discarding = false; // inside a line that was too long
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the caller closed the pipe or died; a partial line is never acted on
        buffer.append(chunk, static_cast<std::size_t>(n));
        directory::secureZero(chunk, sizeof chunk);
        std::size_t newline;
        while ((newline = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, newline);
            directory::secureZero(buffer.data(), newline + 1);
            helper::eraseFront(buffer, newline + 1);
            std::string reply;
            if (discarding) {
                discarding = false;
                reply = helper::errorResponse(directory::codes::kInvalidArg, "要求が長すぎます。");
            } else {
                auto parsed = helper::parseRequest(line);
                if (auto* refusal = std::get_if<helper::Refusal>(&parsed))
                    reply = helper::errorResponse(refusal->code, refusal->description);
                else
                    reply = answer(std::get<helper::Request>(parsed), admin);
            }
            directory::secureZero(line);
            if (!writeLine(reply)) {
                helper::wipeStorage(buffer);
                return 0;
            }
        }
        if (buffer.size() > helper::kMaxLineLength) {
            helper::wipeStorage(buffer);
            discarding = true;
        }
    }
    helper::wipeStorage(buffer);
    return 0;
}
