#include "helper_admin.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <variant>

#include "directory/error.h"
#include "directory/sigpipe_guard.h"
#include "tool_runner.h"

extern char** environ;

namespace unixacct {
namespace {

using directory::Error;
namespace codes = directory::codes;

Error refusedError() {
    return Error(codes::kAccessDenied, "管理者の認証が得られなかったため、このコンピューターのアカウントを読み書きで"
                                       "きません。操作をやり直し、管理者として認証してください。");
}

Error lostError() {
    return Error(codes::kFail, "アカウント管理用のヘルパーが途中で終了しました。もう一度実行してください。");
}

Error silentError(std::chrono::milliseconds limit) {
    return Error(codes::kTimeout, "アカウント管理用のヘルパーが " + std::to_string(limit.count() / 1000) +
                                      " 秒以内に応答しなかったため、待つのをやめました。もう一度実行してください。");
}

} // namespace

std::vector<std::string> HelperAdmin::defaultCommand() {
    return {"/usr/bin/pkexec", QUILL_LOCAL_ACCOUNTS_HELPER};
}

HelperAdmin::HelperAdmin(std::vector<std::string> command, std::vector<std::string> environment,
                         std::chrono::milliseconds answerLimit)
    : m_command(std::move(command)), m_environment(std::move(environment)), m_answerLimit(answerLimit) {}

HelperAdmin::~HelperAdmin() {
    stop();
}

void HelperAdmin::stop(std::chrono::milliseconds wait) noexcept {
    if (m_toHelper >= 0)
        ::close(m_toHelper); // the helper ends when its input closes
    if (m_fromHelper >= 0)
        ::close(m_fromHelper);
    m_toHelper = m_fromHelper = -1;
    m_buffer.clear();
    int status = 0;
    if (m_pid > 0 && !waitChild(m_pid, status, wait)) {
        // A root helper cannot be signalled from here: it ends at its next answer, reaped then.
        try {
            std::thread([pid = m_pid] {
                int ignored = 0;
                while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::exception&) {
        }
    }
    m_pid = -1;
}

bool HelperAdmin::sendLine(std::string& line) {
    line += '\n';
    const directory::SigpipeGuard guard;
    std::size_t done = 0;
    bool ok = true;
    while (done < line.size()) {
        const ssize_t n = ::write(m_toHelper, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    directory::secureZero(line);
    return ok;
}

HelperAdmin::Read HelperAdmin::readLine(std::string& line, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return Read::Line;
        }
        if (m_buffer.size() > helper::kMaxLineLength)
            return Read::Closed;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return Read::TimedOut;
        pollfd ready{m_fromHelper, POLLIN, 0};
        const int rc = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (rc < 0 && errno != EINTR)
            return Read::Closed;
        if (rc <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(m_fromHelper, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Read::Closed;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

void HelperAdmin::start() {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw Error(codes::kFail, "パイプを作れません（エラー番号 " + std::to_string(errno) + "）。");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        throw Error(codes::kFail, "パイプを作れません（エラー番号 " + std::to_string(error) + "）。");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const std::string& a : m_command)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (char** e = environ; e && *e; ++e)
        env.push_back(*e);
    for (const std::string& e : m_environment)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, m_command.front().c_str(), &actions, &attributes, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw Error(codes::kFail, m_command.front() + " を起動できません（エラー番号 " + std::to_string(rc) +
                                      "）。インストールされているか確かめてください。");
    }
    m_pid = pid;
    m_toHelper = in[1];
    m_fromHelper = out[0];

    // The first answer comes only after authorisation: until then pkexec asks the operator.
    std::string hello = helper::encodeRequest(helper::Request{});
    std::string answer;
    const auto greetingLimit = m_answerLimit * 10;
    const Read read = sendLine(hello) ? readLine(answer, greetingLimit) : Read::Closed;
    if (read == Read::Line) {
        const auto parsed = helper::parseResponse(answer);
        if (const auto* response = std::get_if<helper::Response>(&parsed); response && response->ok)
            return;
    }
    // No greeting: pkexec refused, the operator cancelled, or the helper refused its caller.
    stop(read == Read::TimedOut ? std::chrono::milliseconds(0) : std::chrono::seconds(5));
    if (read == Read::TimedOut)
        throw silentError(greetingLimit);
    m_refused = true;
    throw refusedError();
}

helper::Response HelperAdmin::call(const helper::Request& request, bool isWrite) {
    if (m_pid < 0) {
        if (m_refused && !isWrite)
            throw refusedError();
        m_refused = false;
        start();
    }
    std::string line = helper::encodeRequest(request);
    std::string answer;
    const Read read = sendLine(line) ? readLine(answer, m_answerLimit) : Read::Closed;
    if (read == Read::TimedOut) {
        stop(std::chrono::milliseconds(0));
        throw silentError(m_answerLimit);
    }
    if (read != Read::Line) {
        stop();
        throw lostError();
    }
    auto parsed = helper::parseResponse(answer);
    if (auto* refusal = std::get_if<helper::Refusal>(&parsed)) {
        stop();
        throw Error(codes::kFail, refusal->description);
    }
    auto& response = std::get<helper::Response>(parsed);
    if (!response.ok)
        throw Error(response.code, response.description);
    return std::move(response);
}

ShadowState HelperAdmin::shadowState(const std::string& user) {
    helper::Request request;
    request.operation = helper::Operation::Shadow;
    request.change.user = user;
    const helper::Response r = call(request, false);
    ShadowState state;
    try {
        if (r.words.size() != 3)
            throw std::invalid_argument("words");
        state.passwordLocked = r.words[0] == "1";
        state.lastChange = std::stol(r.words[1]);
        state.expire = std::stol(r.words[2]);
    } catch (const std::exception&) {
        throw Error(codes::kFail, "アカウント管理用のヘルパーの応答が壊れています。");
    }
    return state;
}

bool HelperAdmin::lockedOut(const std::string& user) {
    helper::Request request;
    request.operation = helper::Operation::Lockout;
    request.change.user = user;
    const helper::Response r = call(request, false);
    if (r.words.size() != 1 || (r.words[0] != "0" && r.words[0] != "1"))
        throw Error(codes::kFail, "アカウント管理用のヘルパーの応答が壊れています。");
    return r.words[0] == "1";
}

void HelperAdmin::commit(const UserChange& change) {
    helper::Request request;
    request.operation = helper::Operation::Commit;
    request.change.user = change.user;
    request.change.description = change.description;
    request.change.disabled = change.disabled;
    request.change.unlock = change.unlock;
    request.change.expirePassword = change.expirePassword;
    request.change.expiryDay = change.expiryDay;
    if (change.password)
        request.change.password.emplace(change.password->view());
    call(request, true);
}

void HelperAdmin::changeMembership(const std::string& group, const std::string& user, bool add) {
    helper::Request request;
    request.operation = add ? helper::Operation::AddMember : helper::Operation::RemoveMember;
    request.group = group;
    request.change.user = user;
    call(request, true);
}

} // namespace unixacct
