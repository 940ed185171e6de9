#include "bound_entry.h"

#include "connection_cache.h"

namespace ldapdir {

Connection& BoundEntry::writer() {
    if (m_pdc && m_pdc->answers())
        return *m_pdc;
    if (!m_cache || !m_ticket)
        return *m_connection;
    // Asked now if the ping at bind time went unanswered: a read-only controller answers success to
    // a write that changes nothing there, without writing it anywhere.
    m_cache->learn(*m_connection, true);
    if (!m_connection->readOnly())
        return *m_connection;
    m_writable = m_cache->writableController(*m_connection, *m_ticket);
    return *m_writable;
}

} // namespace ldapdir
