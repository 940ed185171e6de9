#pragma once

#include <map>
#include <string>

// The Samba member server that tests/run-member.sh started (tests/servers/samba-member.sh), seen
// from the server's side: pdbedit on its own database, SMB logons without Kerberos, SIGSTOP.
class MemberServer {
public:
    // From QUILL_MEMBER_STATE and QUILL_MEMBER_SCRIPT; available() is false outside run-member.sh.
    MemberServer();
    bool available() const noexcept { return !m_state.empty(); }

    // pdbedit -v NAME as "field: value" pairs ("Account Flags" → "[DU         ]").
    std::map<std::string, std::string> account(const std::string& name) const;
    // The letters of the account flags, e.g. "DU".
    std::string flags(const std::string& name) const;
    // Runs a command line in the member's own world (no secrets on it); its exit status.
    int exec(const std::string& commandLine, std::string* output = nullptr) const;
    std::string password(const std::string& name) const;
    // An SMB logon to the member with a password and no Kerberos: what smbclient reported.
    std::string logon(const std::string& name, const std::string& password) const;
    void pause() const;
    void restart() const;
    void resume() const;

private:
    std::string m_state;
    std::string m_script;
};
