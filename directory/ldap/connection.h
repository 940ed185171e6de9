#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "entry.h"
#include "ldap_handles.h"

namespace ldapdir {

// What every operation needs to know about the domain a connection serves.
struct DomainInfo {
    std::string defaultNamingContext;       // DC=quill,DC=test
    std::string configurationNamingContext; // CN=Configuration,DC=quill,DC=test
    std::string dnsDomain;                  // quill.test
    std::string netbiosName;                // QUILL
    std::string sid;                        // the domain's binary SID
};

// One change of a modify request. Sensitive values (passwords) are zeroed when it is destroyed.
struct Modification {
    int operation = 0; // LDAP_MOD_ADD, LDAP_MOD_DELETE or LDAP_MOD_REPLACE
    std::string attribute;
    std::vector<std::string> values;
    bool sensitive = false;

    Modification(int op, std::string attr, std::vector<std::string> vals, bool secret = false)
        : operation(op), attribute(std::move(attr)), values(std::move(vals)), sensitive(secret) {}
    Modification(Modification&&) = default;
    Modification& operator=(Modification&&) = default;
    ~Modification();
};

// Time limits, so that an unreachable or hung domain controller never blocks the caller longer.
struct Timeouts {
    std::chrono::seconds connect{10};
    std::chrono::seconds operation{30};
};

// An LDAP connection to one domain controller, bound with the user's Kerberos ticket (SASL
// GSSAPI) and sealed. A connection that has dropped is reopened once, transparently, by the next
// operation; when that fails too the operation throws and the one after tries again.
// Used from one thread at a time, like the window that drives it.
class Connection {
public:
    // The entry is the visitor's to keep: it may move from it.
    using EntryVisitor = std::function<void(Entry&)>;

    // Connects and binds to host (a DNS name, "name:port" or an address), then reads the domain's
    // naming contexts. Throws directory::Error: unreachable, authentication refused, not sealed,
    // or not an Active Directory domain controller.
    Connection(std::string host, Timeouts timeouts = {});
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& host() const noexcept { return m_host; }
    const DomainInfo& domain() const noexcept { return m_domain; }

    // Runs a search and calls visit for each entry in the server's order. pageSize > 0 asks for
    // pages of that size (simple paged results) until the server has sent everything.
    void search(const std::string& base, int scope, const std::string& filter,
                const std::vector<std::string>& attributes, const EntryVisitor& visit, int pageSize = 0);
    // The first entry a search finds, if any.
    std::optional<Entry> findOne(const std::string& base, int scope, const std::string& filter,
                                 const std::vector<std::string>& attributes);
    // One modify request with all changes, applied by the server atomically.
    void modify(const std::string& dn, const std::vector<Modification>& changes);

    // Throws unless the session is sealed strongly enough to carry a password.
    void requireSealed();

    // Set once this server has cut an unpaged answer short: its long searches are then paged at once.
    bool pagesLongSearches() const noexcept { return m_pagesLongSearches; }
    void setPagesLongSearches() noexcept { m_pagesLongSearches = true; }
    // The size limit of unpaged searches (0: none), sent to the server and held to here as well,
    // since Samba ignores it. Lets a test have an answer cut short as Windows does past MaxPageSize.
    void setUnpagedSizeLimit(int entries) noexcept { m_unpagedSizeLimit = entries; }

private:
    void open();
    LdapHandle handle();
    // Runs op(handle), reopening once when an open connection turns out to have dropped, as long
    // as *mayRetry (when given) still holds.
    template <class Op> void withReconnect(Op&& op, const bool* mayRetry = nullptr);
    // Waits for the final result of msgid and throws unless it is success.
    void awaitSuccess(LDAP* ld, int msgid, const std::string& context);
    // Waits for the next message of msgid.
    MessagePtr next(LDAP* ld, int msgid, int all, const std::string& context);
    void readDomain();

    std::string m_host;
    Timeouts m_timeouts;
    LdapHandle m_ld;
    DomainInfo m_domain;
    bool m_pagesLongSearches = false;
    int m_unpagedSizeLimit = 0;
};

} // namespace ldapdir
