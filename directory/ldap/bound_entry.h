#pragma once

#include <memory>
#include <optional>
#include <string>

#include "connection.h"
#include "entry.h"
#include "kerberos_ticket.h"

namespace ldapdir {

class ConnectionCache;

// What users and groups share: the connection they were bound on and their directory entry.
// Also how the service finds the DN of an object it bound (a group member given by path).
class BoundEntry {
public:
    BoundEntry(std::shared_ptr<Connection> connection, Entry entry)
        : m_connection(std::move(connection)), m_entry(std::move(entry)) {}
    virtual ~BoundEntry() = default;
    BoundEntry(const BoundEntry&) = delete;
    BoundEntry& operator=(const BoundEntry&) = delete;

    const std::string& distinguishedName() const noexcept { return m_entry.dn(); }
    // sAMAccountName.
    std::string accountName() const { return m_entry.first("sAMAccountName").value_or(""); }
    // The path the platform's own provider gives the object: WinNT://DOMAIN/name.
    std::string winntPath() const { return "WinNT://" + m_connection->domain().netbiosName + "/" + accountName(); }
    // The domain's PDC emulator, when it is another controller than the one in use.
    void setPdcEmulator(std::shared_ptr<Connection> pdc) { m_pdc = std::move(pdc); }
    // The cache that holds the domain's other controllers, and the ticket for them: where writes
    // go that a read-only controller in use cannot take. The cache must outlive the object.
    void setControllers(ConnectionCache& cache, const KerberosTicket& ticket) {
        m_cache = &cache;
        m_ticket = ticket;
    }

protected:
    Connection& connection() const noexcept { return *m_connection; }
    const std::shared_ptr<Connection>& sharedConnection() const noexcept { return m_connection; }
    const Entry& entry() const noexcept { return m_entry; }
    Connection* pdcEmulator() const noexcept { return m_pdc.get(); }
    ConnectionCache* controllers() const noexcept { return m_cache; }
    const std::optional<KerberosTicket>& ticket() const noexcept { return m_ticket; }
    // Where writes go: the PDC emulator while it answers within the read limit, where every
    // controller's changes meet first; otherwise the controller in use, unless it is read-only:
    // then another controller of the domain that takes writes. Throws when none answers.
    Connection& writer();
    void replaceEntry(Entry entry) { m_entry = std::move(entry); }

private:
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<Connection> m_pdc;
    ConnectionCache* m_cache = nullptr;
    std::optional<KerberosTicket> m_ticket;
    std::shared_ptr<Connection> m_writable; // the one writer() chose for a read-only controller
    Entry m_entry;
};

} // namespace ldapdir
