#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "account_admin.h"
#include "helper/protocol.h"

namespace unixacct {

// The root steps done by the local-accounts helper, started through pkexec the first time a step
// needs it and kept for the life of this object (one authorisation per window session). The
// helper ends when this object closes its pipe. When authorisation is refused or cancelled
// (pkexec exits 126 or 127), every step fails with access denied; reads do not ask again
// (a read runs at every keystroke), a later write does.
class HelperAdmin final : public AccountAdmin {
public:
    // pkexec and the installed helper.
    static std::vector<std::string> defaultCommand();

    // command: the helper's argv (argv[0] an absolute path). environment: extra NAME=VALUE
    // entries for it, on top of this process's environment.
    explicit HelperAdmin(std::vector<std::string> command = defaultCommand(),
                         std::vector<std::string> environment = {});
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
    void stop() noexcept;
    bool sendLine(std::string& line);
    bool readLine(std::string& line);

    std::vector<std::string> m_command;
    std::vector<std::string> m_environment;
    pid_t m_pid = -1;
    int m_toHelper = -1;
    int m_fromHelper = -1;
    bool m_refused = false;
    std::string m_buffer;
};

} // namespace unixacct
