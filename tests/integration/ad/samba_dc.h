#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The Samba domain controller that tests/run-ad.sh started (tests/servers/samba-dc.sh), seen from
// the server's side: its own database, its KDC, and the script that stops and starts it.
class SambaDc {
public:
    // From QUILL_AD_STATE and QUILL_AD_SCRIPT; available() is false outside run-ad.sh.
    SambaDc();
    bool available() const noexcept { return !m_state.empty(); }
    // The second controller of the pair (samba-dc.sh start STATE pair), for its database and pid.
    SambaDc second() const { return SambaDc(*this, "/dc2"); }
    // The enterprise's read-only controller in the branch (samba-dc.sh start STATE enterprise).
    SambaDc branch() const { return SambaDc(*this, "/rodc"); }

    // All values of one attribute of the account named sAMAccountName, read from sam.ldb.
    std::vector<std::string> attribute(const std::string& account, const std::string& name) const;
    std::optional<std::string> first(const std::string& account, const std::string& name) const;
    std::int64_t number(const std::string& account, const std::string& name) const;
    // Every person account's sAMAccountName, in the database's order.
    std::vector<std::string> userNames() const;

    // The test password the script gave an account.
    std::string password(const std::string& account) const;
    // kinit for account with the password on standard input, into ccache. Returns kinit's status;
    // output receives what it printed.
    int kinit(const std::string& account, const std::string& password, const std::string& ccache,
              std::string* output = nullptr) const;

    // A ticket cache of the account, made once per run by the script.
    std::string ccache(const std::string& account) const;
    void kill() const;
    void restart() const; // same data
    // SIGSTOP and SIGCONT: a controller that accepts connections but never answers.
    void pause() const;
    void resume() const;
    // Puts the clients of the suite's network namespace, this test among them, in the enterprise's
    // "head" office or its "branch": the source address of their new connections.
    void placeClients(const std::string& site) const;
    // The branch's controller pulls the domain from the first now; on its own it waits a day.
    void replicateToBranch() const;

    const std::string& state() const noexcept { return m_state; }

private:
    SambaDc(const SambaDc& other, std::string controller) : SambaDc(other) { m_controller = std::move(controller); }
    std::vector<std::string> search(const std::string& filter, const std::string& name) const;

    std::string m_state;
    std::string m_script;
    std::string m_controller = "/dc";
};

// Runs a command line (no secrets on it) and returns its exit status; output gets stdout + stderr.
int runCommand(const std::string& commandLine, std::string* output = nullptr, const std::string* input = nullptr);

// Points KRB5CCNAME at another cache for the life of the object.
class TicketCache {
public:
    explicit TicketCache(const std::string& ccache);
    ~TicketCache();
    TicketCache(const TicketCache&) = delete;
    TicketCache& operator=(const TicketCache&) = delete;

private:
    std::optional<std::string> m_previous;
};
