#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "address_book.h"
#include "directory/error.h"
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
    // fSMORoleOwner of the domain head: the NTDS settings of the PDC emulator.
    std::string roleOwner;
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

// Time limits, so that an unreachable or hung domain controller never holds the window long.
struct Timeouts {
    std::chrono::milliseconds connect{5000}; // connecting, and each round trip of the Kerberos bind
    std::chrono::milliseconds read{5000};    // each answer to a search
    // The answer to a write; as long again to learn from the server what became of a write whose
    // answer was lost.
    std::chrono::milliseconds write{30000};
    // After the controller failed to answer, it is taken as still failing for this long: reads
    // then get only the short limit below, so that typing a name does not wait at every key, and
    // the first read after the controller is back still succeeds.
    std::chrono::milliseconds remember{30000};
    std::chrono::milliseconds retry{500};
    // How long the PDC emulator found is trusted before the domain's role owner is read again (the
    // role may move); it is read again at once, too, when the PDC emulator stops answering.
    std::chrono::milliseconds roleCheck{std::chrono::minutes(15)};
};

// How the connections of one cache spent their attempts (for tests and diagnostics).
struct AttemptCounts {
    int discoveries = 0; // looking up which controller serves a target
    int failed = 0;      // attempts that ran into a full limit or a broken connection
    int failedShort = 0; // attempts with the short limit, while a failure was remembered
    int remembered = 0;  // lookups refused at once because the target failed moments ago
};

// What the server holds after a write, as read back from it.
enum class Held {
    Yes,      // the change is there
    No,       // it is not
    Conflict, // neither: someone else changed the entry meanwhile
};

// An LDAP connection to one domain controller, bound with the user's Kerberos ticket (SASL
// GSSAPI) and sealed. A connection that has dropped is reopened once, transparently, by the next
// operation; when that fails too the operation throws and the one after tries again.
// Used from one thread at a time, like the window that drives it.
class Connection {
public:
    // The entry is the visitor's to keep: it may move from it.
    using EntryVisitor = std::function<void(Entry&)>;
    // Reads the entry back and says whether it holds a write. answered: the server said the write
    // succeeded (so what cannot be read back, such as a password, may be taken as done).
    using HoldsCheck = std::function<Held(bool answered)>;

    // Connects and binds to host (a DNS name, "name:port" or an address) within connectLimit
    // (Timeouts::connect when not given), then reads the domain's naming contexts. Throws
    // directory::Error: unreachable, authentication refused, not sealed, or not an Active
    // Directory domain controller. counts, when given, is kept up to date.
    Connection(std::string host, Timeouts timeouts = {}, std::shared_ptr<AttemptCounts> counts = nullptr,
               std::optional<std::chrono::milliseconds> connectLimit = std::nullopt);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& host() const noexcept { return m_host; }

    // Looks host up now, unless its addresses are known already, so that later connections to it
    // need no name server. Addresses found once serve until they all fail.
    static void rememberAddresses(const std::string& host) { AddressBook::shared().remember(host); }
    const DomainInfo& domain() const noexcept { return m_domain; }

    // Runs a search and calls visit for each entry in the server's order. pageSize > 0 asks for
    // pages of that size (simple paged results) until the server has sent everything.
    void search(const std::string& base, int scope, const std::string& filter,
                const std::vector<std::string>& attributes, const EntryVisitor& visit, int pageSize = 0);
    // The first entry a search finds, if any.
    std::optional<Entry> findOne(const std::string& base, int scope, const std::string& filter,
                                 const std::vector<std::string>& attributes);

    // A search sent at once and read later, so that two controllers work on one lookup at the same
    // time. Unread, it is abandoned. Connection trouble counts as a failure of the controller.
    class Pending {
    public:
        Pending(Connection& connection, LdapHandle ld, int msgid)
            : m_connection(connection), m_ld(std::move(ld)), m_msgid(msgid),
              m_sentAt(std::chrono::steady_clock::now()) {}
        Pending(Pending&& other) noexcept
            : m_connection(other.m_connection), m_ld(std::move(other.m_ld)), m_msgid(std::exchange(other.m_msgid, -1)),
              m_sentAt(other.m_sentAt) {}
        ~Pending();
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;
        // The first entry found, within the read limit counted from the send, and by lookupEnds
        // when given (but no sooner than the short limit from now).
        std::optional<Entry> first(std::optional<std::chrono::steady_clock::time_point> lookupEnds = std::nullopt);

    private:
        Connection& m_connection;
        LdapHandle m_ld;
        int m_msgid;
        std::chrono::steady_clock::time_point m_sentAt;
    };
    Pending send(const std::string& base, int scope, const std::string& filter,
                 const std::vector<std::string>& attributes);
    // One modify request with all changes, applied by the server atomically, and never replayed
    // on a guess: it is sent again only when none of it reached the socket. When its answer is
    // lost (the connection broke, or no answer within the write limit) holds reads the entry back
    // on a new connection; a change that is not there, or cannot be read within the write limit,
    // is reported as unconfirmed, since the server may still apply it. After a success answer
    // holds confirms the change. Throws directory::Error when the server refused the change or
    // does not hold it, or when what became of it is unknown.
    void modify(const std::string& dn, const std::vector<Modification>& changes, const HoldsCheck& holds);

    // Throws unless the session is sealed strongly enough to carry a password.
    void requireSealed();

    // Whether the controller failed to answer moments ago (within Timeouts::remember).
    bool failedRecently() const;
    // Whether an open session is at hand: the open one, or a new one within the read limit.
    // Never waits longer than a read would; a failure is remembered as any other.
    bool answers();

    // Set once this server has cut an unpaged answer short: its long searches are then paged at once.
    bool pagesLongSearches() const noexcept { return m_pagesLongSearches; }
    void setPagesLongSearches() noexcept { m_pagesLongSearches = true; }
    // A read-only controller (a branch office's RODC), as its answer to the LDAP ping says: it
    // serves reads, refers every write that changes something elsewhere, and answers success to
    // one that changes nothing without writing anything, so nothing is written there at all.
    bool readOnly() const noexcept { return m_readOnly; }
    void setReadOnly(bool readOnly) noexcept { m_readOnly = readOnly; }
    // The size limit of unpaged searches (0: none), sent to the server and held to here as well,
    // since Samba ignores it. Lets a test have an answer cut short as Windows does past MaxPageSize.
    void setUnpagedSizeLimit(int entries) noexcept { m_unpagedSizeLimit = entries; }

private:
    // Opens the session with limit for the connect and each round trip of the bind.
    void open(std::chrono::milliseconds limit);
    // A connected socket to one of the controller's addresses, within limit.
    int connectSocket(std::chrono::milliseconds limit);
    // The open session; fresh tells whether it was opened just now.
    LdapHandle handle(bool& fresh);
    // Closes the session with a reset, so that nothing still queued for the server reaches it later.
    void drop(const LdapHandle& ld) noexcept;
    void noteFailure(bool shortLimit);
    // Runs op(handle, read limit), reopening once when an open connection turns out to have
    // dropped, as long as *mayRetry (when given) still holds.
    template <class Op> void withReconnect(Op&& op, const bool* mayRetry = nullptr);
    // Sends one modify and waits for its answer: LDAP_SUCCESS, or the libldap code of a connection
    // that failed after some of the request reached the socket. Throws the server's refusal, and
    // any failure before the request left.
    int sendModify(const std::string& dn, LDAPMod** mods);
    // What the server holds after a lost answer, asked until the write limit has passed.
    Held settle(const HoldsCheck& holds);
    // The description of a write whose outcome is unknown.
    std::string unconfirmed() const;
    // Waits for the final result of msgid and throws unless it is success.
    void awaitSuccess(LDAP* ld, int msgid, std::chrono::milliseconds limit);
    // Waits for the next message of msgid.
    MessagePtr next(LDAP* ld, int msgid, int all, std::chrono::milliseconds limit);
    void readDomain();
    directory::Error notActiveDirectory() const;

    std::string m_host;
    Timeouts m_timeouts;
    std::shared_ptr<AttemptCounts> m_counts;
    // Bytes of requests that reached the socket, over all sessions; outlives every session.
    std::uint64_t m_written = 0;
    LdapHandle m_ld;
    std::optional<std::chrono::steady_clock::time_point> m_failedAt;
    DomainInfo m_domain;
    bool m_pagesLongSearches = false;
    int m_unpagedSizeLimit = 0;
    bool m_readOnly = false;
};

} // namespace ldapdir
