#include "connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <openldap.h>
#include <poll.h>
#include <sasl/sasl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "ad_values.h"
#include "dc_locator.h"
#include "directory/error.h"
#include "directory/secret.h"
#include "ldap_failure.h"
#include "directory/sigpipe_guard.h"

namespace ldapdir {

namespace {

// Active Directory announces itself with this capability in the root DSE.
constexpr const char* kActiveDirectoryCapability = "1.2.840.113556.1.4.800";
// Integrity and confidentiality: the session must be encrypted before a password crosses it.
constexpr unsigned kMinimumSsf = 56;

// GSSAPI takes everything from the ticket; answer any question with its default, or nothing.
int answerQuietly(LDAP*, unsigned, void*, void* prompts) {
    for (auto* item = static_cast<sasl_interact_t*>(prompts); item->id != SASL_CB_LIST_END; ++item) {
        const char* answer = item->defresult ? item->defresult : "";
        item->result = answer;
        item->len = static_cast<unsigned>(std::strlen(answer));
    }
    return LDAP_SUCCESS;
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

timeval toTimeval(milliseconds limit) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(limit.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
    return tv;
}

int socketOf(LDAP* ld) {
    ber_socket_t fd = -1;
    if (ldap_get_option(ld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS)
        return -1;
    return fd;
}

// An idle session has nothing to read: anything there is the end of the connection, a reset or
// the server's notice of disconnection.
bool peerGone(LDAP* ld) {
    pollfd watch{socketOf(ld), POLLIN | POLLRDHUP, 0};
    return watch.fd < 0 || poll(&watch, 1, 0) != 0;
}

std::string diagnostic(LDAP* ld) {
    char* raw = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw);
    const LdapText text(raw);
    return text ? std::string(text.get()) : std::string();
}

int resultCode(LDAP* ld) {
    int code = LDAP_OTHER;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

// Abandons a request when its reader leaves early, so no stray answers stay queued.
class PendingRequest {
public:
    PendingRequest(LDAP* ld, int msgid) : m_ld(ld), m_msgid(msgid) {}
    ~PendingRequest() {
        if (m_msgid >= 0)
            ldap_abandon_ext(m_ld, m_msgid, nullptr, nullptr);
    }
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;
    void done() noexcept { m_msgid = -1; }

private:
    LDAP* m_ld;
    int m_msgid;
};

// A layer under the SASL seal that counts the bytes written to the socket, so a write whose
// answer was lost can tell whether any of it left.
int countSetup(Sockbuf_IO_Desc* sbiod, void* counter) {
    sbiod->sbiod_pvt = counter;
    return 0;
}
int countRemove(Sockbuf_IO_Desc*) {
    return 0;
}
int countCtrl(Sockbuf_IO_Desc* sbiod, int option, void* argument) {
    return LBER_SBIOD_CTRL_NEXT(sbiod, option, argument);
}
ber_slen_t countRead(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length) {
    return LBER_SBIOD_READ_NEXT(sbiod, buffer, length);
}
ber_slen_t countWrite(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length) {
    const ber_slen_t written = LBER_SBIOD_WRITE_NEXT(sbiod, buffer, length);
    if (written > 0)
        *static_cast<std::uint64_t*>(sbiod->sbiod_pvt) += static_cast<std::uint64_t>(written);
    return written;
}
Sockbuf_IO countingIo{countSetup, countRemove, countCtrl, countRead, countWrite, nullptr};

} // namespace

Modification::~Modification() {
    if (sensitive)
        for (auto& value : values)
            directory::secureZero(value);
}

Connection::Connection(std::string host, Timeouts timeouts, std::shared_ptr<AttemptCounts> counts)
    : m_host(std::move(host)), m_timeouts(timeouts), m_counts(std::move(counts)) {
    try {
        open(m_timeouts.connect);
    } catch (const LdapFailure& failure) {
        if (isConnectionTrouble(failure.resultCode()))
            noteFailure(false);
        throw;
    }
    readDomain();
}

namespace {

// Every controller's addresses as first found, by "name\nport".
std::mutex addressBookMutex;

// Name and port of host: "name", "name:port", an IPv4 address, or an IPv6 one without brackets.
std::pair<std::string, std::string> nameAndPort(const std::string& host) {
    const bool ipv6 = host.find(':') != host.rfind(':');
    const auto colon = ipv6 ? std::string::npos : host.find(':');
    return {host.substr(0, colon), colon == std::string::npos ? "389" : host.substr(colon + 1)};
}

} // namespace

std::vector<Connection::Address> Connection::lookUp(const std::string& host) {
    static std::map<std::string, std::vector<Address>> book;
    const auto [name, port] = nameAndPort(host);
    const std::string key = name + '\n' + port;
    {
        const std::lock_guard lock(addressBookMutex);
        if (const auto found = book.find(key); found != book.end())
            return found->second;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<Address> addresses;
    if (getaddrinfo(name.c_str(), port.c_str(), &hints, &found) == 0) {
        for (const addrinfo* at = found; at; at = at->ai_next) {
            Address address;
            address.family = at->ai_family;
            address.protocol = at->ai_protocol;
            address.length = static_cast<socklen_t>(std::min<std::size_t>(at->ai_addrlen, sizeof address.address));
            std::memcpy(&address.address, at->ai_addr, address.length);
            addresses.push_back(address);
        }
        freeaddrinfo(found);
    }
    if (!addresses.empty()) {
        const std::lock_guard lock(addressBookMutex);
        book.emplace(key, addresses);
    }
    return addresses;
}

void Connection::rememberAddresses(const std::string& host) {
    const ShortResolverWaits shortWaits;
    lookUp(host);
}

int Connection::connectSocket(milliseconds limit) {
    if (m_addresses.empty()) {
        m_addresses = lookUp(m_host);
        if (m_addresses.empty())
            throw LdapFailure(LDAP_SERVER_DOWN, m_host, "");
    }
    const auto deadline = Clock::now() + limit;
    bool timedOut = false;
    for (const Address& address : m_addresses) {
        const int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, address.protocol);
        if (fd < 0)
            continue;
        bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0;
        if (!connected && errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            pollfd watch{fd, POLLOUT, 0};
            const int ready = poll(&watch, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
            int error = 0;
            socklen_t size = sizeof error;
            connected = ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
            timedOut = timedOut || ready == 0;
        }
        // libldap reads and writes as on a blocking socket and keeps its own time limits.
        if (connected && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
            return fd;
        close(fd);
        if (Clock::now() >= deadline)
            break;
    }
    throw LdapFailure(timedOut ? LDAP_TIMEOUT : LDAP_SERVER_DOWN, m_host, "");
}

void Connection::open(milliseconds limit) {
    const directory::SigpipeGuard quiet;
    const ShortResolverWaits shortWaits;
    const std::string& context = m_host;
    const bool ipv6 = m_host.find(':') != m_host.rfind(':');
    // The URL names the host as given: with NOCANON it makes the service principal ldap/<host>.
    const std::string uri = "ldap://" + (ipv6 ? "[" + m_host + "]" : m_host);
    const int fd = connectSocket(limit);
    LDAP* raw = nullptr;
    int rc = ldap_init_fd(fd, LDAP_PROTO_TCP, uri.c_str(), &raw);
    if (rc != LDAP_SUCCESS) {
        close(fd);
        throw LdapFailure(rc, context, "");
    }
    LdapHandle ld(raw, LdapUnbind());

    int version = LDAP_VERSION3;
    timeval operationTimeout = toTimeval(m_timeouts.read);
    char secprops[] = "minssf=56";
    if (ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_TIMEOUT, &operationTimeout) != LDAP_OPT_SUCCESS ||
        // The service principal is ldap/<name as given>; a reverse lookup would break it.
        ldap_set_option(raw, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_X_SASL_SECPROPS, secprops) != LDAP_OPT_SUCCESS)
        throw LdapFailure(LDAP_PARAM_ERROR, context, "");
    Sockbuf* socketBuffer = nullptr;
    if (ldap_get_option(raw, LDAP_OPT_SOCKBUF, &socketBuffer) != LDAP_OPT_SUCCESS || !socketBuffer ||
        ber_sockbuf_add_io(socketBuffer, &countingIo, LBER_SBIOD_LEVEL_TRANSPORT, &m_written) != 0)
        throw LdapFailure(LDAP_LOCAL_ERROR, context, "");

    // The kernel of a stopped controller still accepts connections. Ask it something that needs
    // no bind first: a silent one then costs this limit alone, never the name look-ups of the
    // Kerberos bind, which run before its first round trip and outside every limit of libldap's.
    char* noAttributes[] = {const_cast<char*>(LDAP_NO_ATTRS), nullptr};
    int probe = -1;
    rc = ldap_search_ext(raw, "", LDAP_SCOPE_BASE, "(objectClass=*)", noAttributes, 0, nullptr, nullptr, nullptr, 1,
                         &probe);
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, diagnostic(raw));
    next(raw, probe, LDAP_MSG_ALL, limit);

    // The asynchronous form, so the time-out holds for every round trip of the bind.
    // mechanism stays set between the steps: libldap reads it to tell a new bind from the next step.
    MessagePtr reply;
    const char* mechanism = nullptr;
    int msgid = -1;
    for (;;) {
        rc = ldap_sasl_interactive_bind(raw, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, answerQuietly,
                                        nullptr, reply.get(), &mechanism, &msgid);
        reply.reset();
        if (rc != LDAP_SASL_BIND_IN_PROGRESS)
            break;
        reply = next(raw, msgid, LDAP_MSG_ALL, limit);
    }
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, diagnostic(raw));

    ber_len_t ssf = 0; // libldap writes a ber_len_t here
    if (ldap_get_option(raw, LDAP_OPT_X_SASL_SSF, &ssf) != LDAP_OPT_SUCCESS || ssf < kMinimumSsf)
        throw LdapFailure(LDAP_STRONG_AUTH_REQUIRED, context, "");
    m_ld = std::move(ld);
}

LdapHandle Connection::handle(bool& fresh) {
    if (m_ld && peerGone(m_ld.get()))
        drop(m_ld);
    fresh = !m_ld;
    if (!m_ld) {
        const bool shortLimit = failedRecently();
        open(shortLimit ? std::min(m_timeouts.retry, m_timeouts.connect) : m_timeouts.connect);
    }
    return m_ld;
}

void Connection::drop(const LdapHandle& ld) noexcept {
    if (!ld)
        return;
    // A reset rather than an orderly close: the kernel would otherwise keep sending a request the
    // server has not yet received, and it could land after its outcome was decided here.
    const int fd = socketOf(ld.get());
    if (fd >= 0) {
        const linger now{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    if (m_ld == ld)
        m_ld.reset();
}

bool Connection::answers() {
    if (failedRecently())
        return false;
    try {
        withReconnect([](LDAP*, milliseconds) {});
        return true;
    } catch (const LdapFailure& failure) {
        if (!isConnectionTrouble(failure.resultCode()))
            throw;
        return false;
    }
}

bool Connection::failedRecently() const {
    return m_failedAt && Clock::now() - *m_failedAt < m_timeouts.remember;
}

void Connection::noteFailure(bool shortLimit) {
    m_failedAt = Clock::now();
    if (m_counts)
        ++(shortLimit ? m_counts->failedShort : m_counts->failed);
}

template <class Op> void Connection::withReconnect(Op&& op, const bool* mayRetry) {
    const directory::SigpipeGuard quiet;
    for (int attempt = 0;; ++attempt) {
        const bool shortLimit = failedRecently();
        bool fresh = true;
        LdapHandle ld;
        try {
            ld = handle(fresh);
            op(ld.get(), shortLimit ? std::min(m_timeouts.retry, m_timeouts.read) : m_timeouts.read);
            m_failedAt.reset();
            return;
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            // Whatever state the session is in, it is of no further use.
            drop(ld);
            if (fresh || attempt > 0 || failure.resultCode() == LDAP_TIMEOUT || (mayRetry && !*mayRetry)) {
                noteFailure(shortLimit);
                throw;
            }
        }
    }
}

MessagePtr Connection::next(LDAP* ld, int msgid, int all, milliseconds limit) {
    const std::string& context = m_host;
    timeval wait = toTimeval(limit);
    LDAPMessage* raw = nullptr;
    const int type = ldap_result(ld, msgid, all, &wait, &raw);
    MessagePtr message(raw);
    if (type == 0) {
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        throw LdapFailure(LDAP_TIMEOUT, context, "");
    }
    if (type < 0 || !message)
        throw LdapFailure(resultCode(ld), context, diagnostic(ld));
    return message;
}

void Connection::awaitSuccess(LDAP* ld, int msgid, milliseconds limit) {
    const std::string& context = m_host;
    const MessagePtr message = next(ld, msgid, LDAP_MSG_ALL, limit);
    int code = LDAP_OTHER;
    char* rawText = nullptr;
    const int rc = ldap_parse_result(ld, message.get(), &code, nullptr, &rawText, nullptr, nullptr, 0);
    const LdapText text(rawText);
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, "");
    if (code != LDAP_SUCCESS)
        throw LdapFailure(code, context, text ? text.get() : "");
}

void Connection::search(const std::string& base, int scope, const std::string& filter,
                        const std::vector<std::string>& attributes, const EntryVisitor& visit, int pageSize) {
    const std::string& context = m_host;
    std::vector<char*> names;
    names.reserve(attributes.size() + 1);
    for (const auto& name : attributes)
        names.push_back(const_cast<char*>(name.c_str()));
    names.push_back(nullptr);

    // A search that has already handed out entries is not restarted: that would repeat them.
    bool mayRetry = true;
    withReconnect(
        [&](LDAP* ld, milliseconds limit) {
            std::string cookie;
            do {
                ControlPtr page;
                LDAPControl* controls[2] = {nullptr, nullptr};
                if (pageSize > 0) {
                    berval cookieValue{static_cast<ber_len_t>(cookie.size()), cookie.data()};
                    LDAPControl* raw = nullptr;
                    const int rc =
                        ldap_create_page_control(ld, pageSize, cookie.empty() ? nullptr : &cookieValue, 0, &raw);
                    page.reset(raw);
                    if (rc != LDAP_SUCCESS)
                        throw LdapFailure(rc, context, "");
                    controls[0] = raw;
                }
                // No time limit for the server: a whole listing of a large domain may take longer than
                // one answer may, and a hung server is caught by the wait for each answer below.
                int msgid = -1;
                const int rc =
                    ldap_search_ext(ld, base.c_str(), scope, filter.c_str(), names.data(), 0, controls, nullptr,
                                    nullptr, pageSize > 0 ? LDAP_NO_LIMIT : m_unpagedSizeLimit, &msgid);
                if (rc != LDAP_SUCCESS)
                    throw LdapFailure(rc, context, diagnostic(ld));
                PendingRequest pending(ld, msgid);
                cookie.clear();
                int entries = 0;
                for (;;) {
                    const MessagePtr message = next(ld, msgid, LDAP_MSG_ONE, limit);
                    const int type = ldap_msgtype(message.get());
                    if (type == LDAP_RES_SEARCH_ENTRY) {
                        // Samba ignores a search's size limit; stop where a server that honours it would.
                        if (pageSize <= 0 && m_unpagedSizeLimit > 0 && ++entries > m_unpagedSizeLimit)
                            throw LdapFailure(LDAP_SIZELIMIT_EXCEEDED, context, "");
                        mayRetry = false;
                        Entry entry(ld, message.get());
                        visit(entry);
                        continue;
                    }
                    if (type != LDAP_RES_SEARCH_RESULT)
                        continue; // references: referrals are not chased
                    pending.done();
                    int code = LDAP_OTHER;
                    char* rawText = nullptr;
                    LDAPControl** rawControls = nullptr;
                    const int parsed =
                        ldap_parse_result(ld, message.get(), &code, nullptr, &rawText, nullptr, &rawControls, 0);
                    const LdapText text(rawText);
                    const ControlsPtr replyControls(rawControls);
                    if (parsed != LDAP_SUCCESS)
                        throw LdapFailure(parsed, context, "");
                    if (code != LDAP_SUCCESS)
                        throw LdapFailure(code, context, text ? text.get() : "");
                    if (pageSize > 0) {
                        if (LDAPControl* reply =
                                ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, replyControls.get(), nullptr)) {
                            ber_int_t estimate = 0;
                            berval next{};
                            if (ldap_parse_pageresponse_control(ld, reply, &estimate, &next) == LDAP_SUCCESS) {
                                cookie.assign(next.bv_val ? next.bv_val : "", next.bv_len);
                                ber_memfree(next.bv_val);
                            }
                        }
                    }
                    break;
                }
            } while (!cookie.empty());
        },
        &mayRetry);
}

std::optional<Entry> Connection::findOne(const std::string& base, int scope, const std::string& filter,
                                         const std::vector<std::string>& attributes) {
    std::optional<Entry> found;
    search(base, scope, filter, attributes, [&](const Entry& entry) {
        if (!found)
            found = entry;
    });
    return found;
}

Connection::Pending Connection::send(const std::string& base, int scope, const std::string& filter,
                                     const std::vector<std::string>& attributes) {
    const directory::SigpipeGuard quiet;
    const bool shortLimit = failedRecently();
    bool fresh = true;
    LdapHandle ld;
    try {
        ld = handle(fresh);
        std::vector<char*> names;
        for (const auto& name : attributes)
            names.push_back(const_cast<char*>(name.c_str()));
        names.push_back(nullptr);
        int msgid = -1;
        const int rc = ldap_search_ext(ld.get(), base.c_str(), scope, filter.c_str(), names.data(), 0, nullptr, nullptr,
                                       nullptr, LDAP_NO_LIMIT, &msgid);
        if (rc != LDAP_SUCCESS)
            throw LdapFailure(rc, m_host, diagnostic(ld.get()));
        return Pending(*this, ld, msgid);
    } catch (const LdapFailure& failure) {
        if (isConnectionTrouble(failure.resultCode())) {
            drop(ld);
            noteFailure(shortLimit);
        }
        throw;
    }
}

Connection::Pending::~Pending() {
    if (m_msgid >= 0)
        ldap_abandon_ext(m_ld.get(), m_msgid, nullptr, nullptr);
}

std::optional<Entry> Connection::Pending::first() {
    const bool shortLimit = m_connection.failedRecently();
    const auto limit = shortLimit ? std::min(m_connection.m_timeouts.retry, m_connection.m_timeouts.read)
                                  : m_connection.m_timeouts.read;
    std::optional<Entry> found;
    try {
        for (;;) {
            const MessagePtr message = m_connection.next(m_ld.get(), m_msgid, LDAP_MSG_ONE, limit);
            const int type = ldap_msgtype(message.get());
            if (type == LDAP_RES_SEARCH_ENTRY && !found)
                found.emplace(m_ld.get(), message.get());
            if (type != LDAP_RES_SEARCH_RESULT)
                continue;
            m_msgid = -1;
            int code = LDAP_OTHER;
            if (ldap_parse_result(m_ld.get(), message.get(), &code, nullptr, nullptr, nullptr, nullptr, 0) !=
                    LDAP_SUCCESS ||
                code != LDAP_SUCCESS)
                throw LdapFailure(code, m_connection.m_host, "");
            m_connection.m_failedAt.reset();
            return found;
        }
    } catch (const LdapFailure& failure) {
        m_msgid = -1; // answered, or abandoned on the way out
        if (isConnectionTrouble(failure.resultCode())) {
            m_connection.drop(m_ld);
            m_connection.noteFailure(shortLimit);
        }
        throw;
    }
}

void Connection::modify(const std::string& dn, const std::vector<Modification>& changes, const HoldsCheck& holds) {
    const directory::SigpipeGuard quiet;
    // The request points into the changes themselves, so no copy of a password is made here.
    std::vector<std::vector<berval>> values(changes.size());
    std::vector<std::vector<berval*>> valuePointers(changes.size());
    std::vector<LDAPMod> mods(changes.size());
    std::vector<LDAPMod*> list;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Modification& change = changes[i];
        for (const auto& value : change.values)
            values[i].push_back(berval{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())});
        for (auto& value : values[i])
            valuePointers[i].push_back(&value);
        valuePointers[i].push_back(nullptr);
        mods[i].mod_op = change.operation | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char*>(change.attribute.c_str());
        mods[i].mod_bvalues = valuePointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);

    if (sendModify(dn, list.data()) == LDAP_SUCCESS) {
        Held held = Held::Yes;
        try {
            held = holds(true);
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            // Nothing more to learn now: the server's own answer stands.
        }
        if (held != Held::Yes)
            throw directory::Error(directory::codes::kFail,
                                   "ドメインコントローラーは変更を受け付けましたが、反映されていません。");
        return;
    }
    // Some of the request left and its answer did not come: the server may have applied it, or
    // may still do so. Sending it again could fail on the change itself or undo someone else's,
    // so only what the server now holds decides.
    if (settle(holds) != Held::Yes)
        throw directory::Error(directory::codes::kTimeout, unconfirmed());
}

int Connection::sendModify(const std::string& dn, LDAPMod** mods) {
    for (int attempt = 0;; ++attempt) {
        bool fresh = true;
        LdapHandle ld;
        try {
            ld = handle(fresh);
        } catch (const LdapFailure& failure) {
            if (isConnectionTrouble(failure.resultCode()))
                noteFailure(false);
            throw;
        }
        int msgid = -1;
        const std::uint64_t writtenBefore = m_written;
        const int rc = ldap_modify_ext(ld.get(), dn.c_str(), mods, nullptr, nullptr, &msgid);
        if (rc != LDAP_SUCCESS) {
            if (!isConnectionTrouble(rc))
                throw LdapFailure(rc, m_host, diagnostic(ld.get()));
            drop(ld);
            if (m_written != writtenBefore) {
                noteFailure(false);
                return rc; // part of it may have reached the server
            }
            // None of it left, so a session that had dropped unnoticed is reopened once.
            if (fresh || attempt > 0) {
                noteFailure(false);
                throw LdapFailure(rc, m_host, "");
            }
            continue;
        }
        try {
            awaitSuccess(ld.get(), msgid, m_timeouts.write);
            m_failedAt.reset();
            return LDAP_SUCCESS;
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            drop(ld);
            noteFailure(false);
            return failure.resultCode();
        }
    }
}

std::string Connection::unconfirmed() const {
    return "ドメインコントローラー " + m_host + " の応答が途絶えたため、変更が反映されたか確認できません。";
}

Held Connection::settle(const HoldsCheck& holds) {
    const auto deadline = Clock::now() + m_timeouts.write;
    for (;;) {
        try {
            return holds(false);
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            throw directory::Error(directory::codes::kTimeout, unconfirmed());
        std::this_thread::sleep_for(std::min<Clock::duration>(m_timeouts.retry, deadline - now));
    }
}

void Connection::requireSealed() {
    withReconnect([&](LDAP* ld, milliseconds) {
        ber_len_t ssf = 0; // libldap writes a ber_len_t here
        if (ldap_get_option(ld, LDAP_OPT_X_SASL_SSF, &ssf) != LDAP_OPT_SUCCESS || ssf < kMinimumSsf)
            throw LdapFailure(LDAP_STRONG_AUTH_REQUIRED, m_host, "");
    });
}

void Connection::readDomain() {
    const auto root = findOne("", LDAP_SCOPE_BASE, "(objectClass=*)",
                              {"defaultNamingContext", "configurationNamingContext", "supportedCapabilities"});
    bool activeDirectory = false;
    if (root)
        for (const auto& capability : root->all("supportedCapabilities"))
            activeDirectory = activeDirectory || capability == kActiveDirectoryCapability;
    if (!activeDirectory || !root->first("defaultNamingContext") || !root->first("configurationNamingContext"))
        throw directory::Error(directory::codes::kNotFound,
                               m_host + " は Active Directory のドメインコントローラーではありません。");
    m_domain.defaultNamingContext = *root->first("defaultNamingContext");
    m_domain.configurationNamingContext = *root->first("configurationNamingContext");

    const auto crossRef =
        findOne("CN=Partitions," + m_domain.configurationNamingContext, LDAP_SCOPE_ONELEVEL,
                "(&(objectClass=crossRef)(nCName=" + escapeFilterValue(m_domain.defaultNamingContext) + "))",
                {"nETBIOSName", "dnsRoot"});
    if (crossRef) {
        m_domain.netbiosName = crossRef->first("nETBIOSName").value_or("");
        m_domain.dnsDomain = crossRef->first("dnsRoot").value_or("");
    }
    const auto head =
        findOne(m_domain.defaultNamingContext, LDAP_SCOPE_BASE, "(objectClass=*)", {"objectSid", "fSMORoleOwner"});
    if (head) {
        m_domain.sid = head->first("objectSid").value_or("");
        m_domain.roleOwner = head->first("fSMORoleOwner").value_or("");
    }
    if (m_domain.netbiosName.empty() || m_domain.sid.empty())
        throw directory::Error(directory::codes::kNotFound,
                               m_host + " からドメインの NetBIOS 名または SID を取得できません。");
}

} // namespace ldapdir
