#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "account_admin.h"
#include "helper/protocol.h"

namespace unixacct {

// The root steps done by the local-accounts helper, started through pkexec the first time a step
// needs it and kept for the life of this object (one authorisation per window session). The
// helper ends when this object closes its pipe. When authorisation is refused or cancelled
// (pkexec exits 126 or 127), every step fails with access denied; reads do not ask again
// (a read runs at every keystroke), a later write does. A helper that gives no answer within the
// answer limit fails that step and is left behind; the next step starts a fresh one.
class HelperAdmin final : public AccountAdmin {
public:
    // pkexec and the installed helper.
    static std::vector<std::string> defaultCommand();

    // command: the helper's argv (argv[0] an absolute path). environment: extra NAME=VALUE
    // entries for it, on top of this process's environment. answerLimit: the longest wait for the
    // answer to a request; the first answer, which waits for the operator's authentication, gets
    // ten times as long.
    explicit HelperAdmin(std::vector<std::string> command = defaultCommand(), std::vector<std::string> environment = {},
                         std::chrono::milliseconds answerLimit = std::chrono::seconds(30));
    ~HelperAdmin() override;
    HelperAdmin(const HelperAdmin&) = delete;
    HelperAdmin& operator=(const HelperAdmin&) = delete;

    ShadowState shadowState(const std::string& user) override;
    bool lockedOut(const std::string& user) override;
    void commit(const UserChange& change) override;
    void changeMembership(const std::string& group, const std::string& user, bool add) override;

    // The helper's process id, or -1 when none runs.
    pid_t helperPid() const noexcept { return m_pid; }

private:
    helper::Response call(const helper::Request& request, bool isWrite);
    void start();
    // Closes the pipes and reaps the helper, waiting at most `wait` before leaving it to a thread.
    void stop(std::chrono::milliseconds wait = std::chrono::seconds(5)) noexcept;
    bool sendLine(std::string& line);
    enum class Read { Line, Closed, TimedOut };
    Read readLine(std::string& line, std::chrono::milliseconds limit);

    std::vector<std::string> m_command;
    std::vector<std::string> m_environment;
    std::chrono::milliseconds m_answerLimit;
    pid_t m_pid = -1;
    int m_toHelper = -1;
    int m_fromHelper = -1;
    bool m_refused = false;
    std::string m_buffer;
};

} // namespace unixacct
