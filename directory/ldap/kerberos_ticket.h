#pragma once

#include <chrono>
#include <string>

namespace ldapdir {

// The user's ticket-granting ticket in the default credential cache (KRB5CCNAME).
class KerberosTicket {
public:
    // The ticket that binds will use. Throws directory::Error (the ticket is missing or expired: run
    // kinit) when there is none, or when it ends within minimumLife.
    static KerberosTicket current(std::chrono::seconds minimumLife = std::chrono::minutes(5));

    // The client principal, e.g. jdoe@QUILL.TEST.
    const std::string& principal() const noexcept { return m_principal; }
    // Its realm, e.g. QUILL.TEST.
    const std::string& realm() const noexcept { return m_realm; }

private:
    KerberosTicket(std::string principal, std::string realm)
        : m_principal(std::move(principal)), m_realm(std::move(realm)) {}

    std::string m_principal;
    std::string m_realm;
};

} // namespace ldapdir
