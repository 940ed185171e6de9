#include "sandbox.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "directory/unix/faillock.h"
#include "directory/unix/tool_runner.h"

namespace sandbox {

bool active() {
    const char* flag = std::getenv("QUILL_UNIX_SANDBOX");
    if (!flag || std::string(flag) != "1" || ::geteuid() != 0)
        return false;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream f(line);
        std::string id, parent, devno, root, mountPoint;
        if (f >> id >> parent >> devno >> root >> mountPoint && mountPoint == "/etc")
            return true;
    }
    return false;
}

int run(const std::vector<std::string>& argv, const std::string& input) {
    unixacct::SpawnToolRunner runner;
    return runner.run(argv, input).exitStatus;
}

std::string createUser(const std::string& stem, const std::string& comment, bool withPassword) {
    static int serial = 0;
    // ctest runs each test in its own process: the process id keeps names apart across them.
    const std::string name =
        "q" + stem.substr(0, 14) + "_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    std::vector<std::string> argv{"/usr/sbin/useradd", "-M", "-U", "-s", "/bin/sh"};
    if (!comment.empty())
        argv.insert(argv.end(), {"-c", comment});
    argv.push_back(name);
    if (run(argv) != 0)
        throw std::runtime_error("useradd " + name + " failed");
    if (withPassword && run({"/usr/sbin/chpasswd"}, name + ":Initial-Pw1\n") != 0)
        throw std::runtime_error("chpasswd " + name + " failed");
    return name;
}

std::vector<std::string> fields(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, name.size() + 1, name + ":") != 0)
            continue;
        std::vector<std::string> out;
        std::size_t start = 0;
        for (;;) {
            const auto colon = line.find(':', start);
            out.push_back(line.substr(start, colon - start));
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
        return out;
    }
    return {};
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string faillockDir() {
    return unixacct::loadFaillockConfig("/etc/security/faillock.conf").dir;
}

void failLogins(const std::string& name, int count) {
    for (int i = 0; i < count; ++i)
        run({"/usr/bin/pamtester", kPamService, name, "authenticate"}, "wrong-password\n");
}

long todayDays() {
    return static_cast<long>(std::time(nullptr) / 86400);
}

} // namespace sandbox
