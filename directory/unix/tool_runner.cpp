#include "tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>

#include "directory/error.h"
#include "directory/secret.h"
#include "directory/sigpipe_guard.h"

namespace unixacct {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) noexcept : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const noexcept { return m_fd; }
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

void makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw directory::Error(directory::codes::kFail,
                               "パイプを作れません（エラー番号 " + std::to_string(errno) + "）。");
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
}

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&m_actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() noexcept { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&m_attr); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() noexcept { return &m_attr; }

private:
    posix_spawnattr_t m_attr;
};

std::string firstLine(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty())
            return line;
        start = end + 1;
    }
    return {};
}

} // namespace

std::string systemToolPath(std::string_view name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        std::string path = std::string(dir) + std::string(name);
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "/usr/sbin/" + std::string(name);
}

bool waitChild(pid_t pid, int& status, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return true;
        if (done < 0 && errno != EINTR)
            return true; // not our child (any more): nothing left to wait for
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::usleep(static_cast<useconds_t>(pause.count() * 1000));
    }
}

ToolResult SpawnToolRunner::run(const std::vector<std::string>& argv, std::string_view input) {
    if (argv.empty())
        throw directory::Error(directory::codes::kInvalidArg, "実行するプログラムがありません。");

    Fd inRead, inWrite, errRead, errWrite;
    makePipe(inRead, inWrite);
    makePipe(errRead, errWrite);

    FileActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), inRead.get(), STDIN_FILENO);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);

    // The child starts with default signal handling and an empty mask, whatever the GUI set.
    SpawnAttributes attributes;
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setpgroup(attributes.get(), 0); // its own group, so a time-out kills what it started too
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::array<char*, 3> env{const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), const_cast<char*>("LC_ALL=C"),
                             nullptr};

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0].c_str(), actions.get(), attributes.get(), args.data(), env.data());
    inRead.reset();
    errWrite.reset();
    if (rc != 0)
        throw directory::Error(directory::codes::kFail, argv[0] + " を起動できません（エラー番号 " +
                                                            std::to_string(rc) +
                                                            "）。インストールされているか確かめてください。");

    // Feed standard input and drain standard error together, so neither side can block the other.
    const directory::SigpipeGuard sigpipeGuard;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_timeLimitSeconds);
    bool timedOut = false;
    std::string errors;
    std::size_t written = 0;
    if (input.empty())
        inWrite.reset();
    while (errRead.get() >= 0) {
        std::array<pollfd, 2> fds{pollfd{errRead.get(), POLLIN, 0}, pollfd{inWrite.get(), POLLOUT, 0}};
        const nfds_t count = inWrite.get() >= 0 ? 2 : 1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            ::killpg(pid, SIGKILL);
            break;
        }
        const int ready = ::poll(fds.data(), count, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            continue;
        if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(inWrite.get(), input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                inWrite.reset(); // the tool stopped reading; its status will say why
            else if (written == input.size())
                inWrite.reset();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[1024];
            const ssize_t n = ::read(errRead.get(), buffer, sizeof buffer);
            if (n > 0) {
                if (errors.size() < 16384)
                    errors.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                errRead.reset();
            }
        }
    }
    inWrite.reset();
    errRead.reset();

    // A tool may close standard error and go on running: it gets what is left of its time.
    int status = 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!waitChild(pid, status, std::max(left, std::chrono::milliseconds(0)))) {
        timedOut = true;
        ::killpg(pid, SIGKILL);
        if (!waitChild(pid, status, std::chrono::seconds(5)))
            throw directory::Error(directory::codes::kFail, argv[0] + " の終了を確かめられません。");
    }
    ToolResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.firstErrorLine = firstLine(errors);
    result.timedOut = timedOut;
    result.timeLimitSeconds = m_timeLimitSeconds;
    directory::secureZero(errors);
    return result;
}

} // namespace unixacct
