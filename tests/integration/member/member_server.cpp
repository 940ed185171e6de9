#include "member_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "samba_dc.h"

MemberServer::MemberServer() {
    const char* state = std::getenv("QUILL_MEMBER_STATE");
    const char* script = std::getenv("QUILL_MEMBER_SCRIPT");
    if (state && script) {
        m_state = state;
        m_script = script;
    }
}

int MemberServer::exec(const std::string& commandLine, std::string* output) const {
    return runCommand(m_script + " exec " + m_state + " " + commandLine, output);
}

std::map<std::string, std::string> MemberServer::account(const std::string& name) const {
    std::string out;
    if (exec("pdbedit -v " + name, &out) != 0)
        return {};
    std::map<std::string, std::string> fields;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        const auto start = line.find_first_not_of(' ', colon + 1);
        fields[key] = start == std::string::npos ? "" : line.substr(start);
    }
    return fields;
}

std::string MemberServer::flags(const std::string& name) const {
    std::string letters;
    const std::string field = account(name)["Account Flags"];
    for (const char c : field)
        if (c != '[' && c != ']' && c != ' ')
            letters += c;
    return letters;
}

std::string MemberServer::password(const std::string& name) const {
    std::ifstream file(m_state + "/passwords/" + name);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string MemberServer::logon(const std::string& name, const std::string& password) const {
    // The password goes in a file of mode 600, never on the command line.
    const std::string path = m_state + "/logon.auth";
    {
        const mode_t old = umask(077);
        std::ofstream file(path, std::ios::trunc);
        umask(old);
        file << "username = " << name << "\npassword = " << password << "\ndomain = FILES1\n";
    }
    std::string out;
    runCommand("smbclient //files1.quill.test/IPC$ --configfile=/dev/null --use-kerberos=disabled -m SMB3 -A " + path +
                   " -c exit",
               &out);
    unlink(path.c_str());
    return out;
}

void MemberServer::pause() const {
    runCommand(m_script + " pause " + m_state);
}

void MemberServer::restart() const {
    runCommand(m_script + " restart " + m_state);
}

void MemberServer::resume() const {
    runCommand(m_script + " resume " + m_state);
}
