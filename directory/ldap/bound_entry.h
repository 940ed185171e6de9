#pragma once

#include <memory>
#include <string>

#include "connection.h"
#include "entry.h"

namespace ldapdir {

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

protected:
    Connection& connection() const noexcept { return *m_connection; }
    const std::shared_ptr<Connection>& sharedConnection() const noexcept { return m_connection; }
    const Entry& entry() const noexcept { return m_entry; }
    Connection* pdcEmulator() const noexcept { return m_pdc.get(); }
    // Where writes go: the PDC emulator while it answers within the read limit, where every
    // controller's changes meet first; otherwise the controller in use.
    Connection& writer() const { return m_pdc && m_pdc->answers() ? *m_pdc : *m_connection; }
    void replaceEntry(Entry entry) { m_entry = std::move(entry); }

private:
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<Connection> m_pdc;
    Entry m_entry;
};

} // namespace ldapdir
