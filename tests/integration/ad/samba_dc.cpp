#include "samba_dc.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string decodeBase64(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const auto at = kAlphabet.find(c);
        if (at == std::string::npos)
            continue;
        buffer = (buffer << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

} // namespace

int runCommand(const std::string& commandLine, std::string* output, const std::string* input) {
    // A temporary file for the input keeps this free of pipes in both directions.
    std::string inputFile;
    std::string line = commandLine;
    if (input) {
        char name[] = "/tmp/quill-ad-input-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            throw std::runtime_error("mkstemp failed");
        if (write(fd, input->data(), input->size()) != static_cast<ssize_t>(input->size())) {
            close(fd);
            throw std::runtime_error("write failed");
        }
        close(fd);
        inputFile = name;
        line += " < " + quote(inputFile);
    }
    line += " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("popen failed: " + commandLine);
    std::string text;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        text.append(chunk.data(), n);
    const int status = pclose(pipe);
    if (!inputFile.empty())
        unlink(inputFile.c_str());
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SambaDc::SambaDc() : m_state(env("QUILL_AD_STATE")), m_script(env("QUILL_AD_SCRIPT")) {}

std::vector<std::string> SambaDc::search(const std::string& filter, const std::string& name) const {
    std::string out;
    const int status = runCommand("ldbsearch -H " + quote(m_state + m_controller + "/private/sam.ldb") + " " +
                                      quote(filter) + " " + quote(name),
                                  &out);
    if (status != 0)
        throw std::runtime_error("ldbsearch failed: " + out);
    std::vector<std::string> values;
    std::istringstream lines(out);
    std::string line;
    const std::string plain = name + ": ";
    const std::string encoded = name + ":: ";
    while (std::getline(lines, line)) {
        if (line.rfind(plain, 0) == 0)
            values.push_back(line.substr(plain.size()));
        else if (line.rfind(encoded, 0) == 0)
            values.push_back(decodeBase64(line.substr(encoded.size())));
    }
    return values;
}

std::vector<std::string> SambaDc::attribute(const std::string& account, const std::string& name) const {
    return search("(sAMAccountName=" + account + ")", name);
}

std::optional<std::string> SambaDc::first(const std::string& account, const std::string& name) const {
    auto values = attribute(account, name);
    if (values.empty())
        return std::nullopt;
    return values.front();
}

std::int64_t SambaDc::number(const std::string& account, const std::string& name) const {
    const auto value = first(account, name);
    if (!value)
        throw std::runtime_error(account + " has no " + name);
    return std::stoll(*value);
}

std::vector<std::string> SambaDc::userNames() const {
    return search("(&(objectCategory=person)(objectClass=user))", "sAMAccountName");
}

std::string SambaDc::password(const std::string& account) const {
    std::ifstream in(m_state + "/passwords/" + account);
    std::string password;
    std::getline(in, password);
    if (password.empty())
        throw std::runtime_error("no test password for " + account);
    return password;
}

int SambaDc::kinit(const std::string& account, const std::string& password, const std::string& ccache,
                   std::string* output) const {
    const std::string input = password + "\n";
    return runCommand("KRB5CCNAME=" + quote(ccache) + " kinit " + quote(account + "@QUILL.TEST"), output, &input);
}

std::string SambaDc::ccache(const std::string& account) const {
    return "FILE:" + m_state + "/cc." + account;
}

void SambaDc::kill() const {
    std::string out;
    if (runCommand(quote(m_script) + " kill " + quote(m_state), &out) != 0)
        throw std::runtime_error("stopping the domain controller failed: " + out);
}

void SambaDc::restart() const {
    std::string out;
    if (runCommand(quote(m_script) + " start " + quote(m_state) + " keep", &out) != 0)
        throw std::runtime_error("starting the domain controller failed: " + out);
}

void SambaDc::pause() const {
    std::string out;
    if (runCommand("kill -STOP $(cat " + quote(m_state + m_controller + "/run/samba.pid") + ")", &out) != 0)
        throw std::runtime_error("pausing the domain controller failed: " + out);
}

void SambaDc::resume() const {
    std::string out;
    if (runCommand("kill -CONT $(cat " + quote(m_state + m_controller + "/run/samba.pid") + ")", &out) != 0)
        throw std::runtime_error("resuming the domain controller failed: " + out);
}

void SambaDc::placeClients(const std::string& site) const {
    std::string out;
    if (runCommand(quote(m_script) + " client " + quote(m_state) + " " + quote(site), &out) != 0)
        throw std::runtime_error("placing the clients failed: " + out);
}

void SambaDc::replicateToBranch() const {
    std::string out;
    if (runCommand(quote(m_script) + " replicate " + quote(m_state), &out) != 0)
        throw std::runtime_error("replicating to the branch failed: " + out);
}

TicketCache::TicketCache(const std::string& ccache) {
    if (const char* previous = std::getenv("KRB5CCNAME"))
        m_previous = previous;
    setenv("KRB5CCNAME", ccache.c_str(), 1);
}

TicketCache::~TicketCache() {
    if (m_previous)
        setenv("KRB5CCNAME", m_previous->c_str(), 1);
    else
        unsetenv("KRB5CCNAME");
}
