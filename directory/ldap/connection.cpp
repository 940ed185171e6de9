#include "connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "ad_values.h"
#include "directory/error.h"
#include "directory/secret.h"
#include "directory/sigpipe_guard.h"
#include "ldap_call.h"
#include "ldap_failure.h"

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// An idle session has nothing to read: anything there is the end of the connection, a reset or
// the server's notice of disconnection.
bool peerGone(LDAP* ld) {
    pollfd watch{socketOf(ld), POLLIN | POLLRDHUP, 0};
    return watch.fd < 0 || poll(&watch, 1, 0) != 0;
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

} // namespace

Modification::~Modification() {
    if (sensitive)
        for (auto& value : values)
            directory::secureZero(value);
}

Connection::Connection(std::string host, Timeouts timeouts, std::shared_ptr<AttemptCounts> counts,
                       std::optional<milliseconds> connectLimit)
    : m_host(std::move(host)), m_timeouts(timeouts), m_counts(std::move(counts)) {
    try {
        open(connectLimit.value_or(m_timeouts.connect));
    } catch (const LdapFailure& failure) {
        if (isConnectionTrouble(failure.resultCode()))
            noteFailure(false);
        throw;
    }
    readDomain();
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

directory::Error Connection::notActiveDirectory() const {
    return directory::Error(directory::codes::kNotFound,
                            m_host + " は Active Directory のドメインコントローラーではありません。");
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
    if (m_msgid < 0)
        return;
    // The abandon request is written to a connection the controller may have dropped meanwhile.
    const directory::SigpipeGuard quiet;
    ldap_abandon_ext(m_ld.get(), m_msgid, nullptr, nullptr);
}

std::optional<Entry> Connection::Pending::first(std::optional<Clock::time_point> lookupEnds) {
    const directory::SigpipeGuard quiet; // a wait that runs out abandons the request
    const bool shortLimit = m_connection.failedRecently();
    const Timeouts& timeouts = m_connection.m_timeouts;
    const auto shortest = std::min(timeouts.retry, timeouts.read);
    // The server has been at it since the send, while the lookup waited elsewhere.
    auto until = m_sentAt + (shortLimit ? shortest : timeouts.read);
    if (lookupEnds)
        until = std::min(until, std::max(*lookupEnds, Clock::now() + shortest));
    std::optional<Entry> found;
    try {
        for (;;) {
            const auto left = std::max(std::chrono::duration_cast<milliseconds>(until - Clock::now()), milliseconds(0));
            const MessagePtr message = m_connection.next(m_ld.get(), m_msgid, LDAP_MSG_ONE, left);
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
    if (!root || !announcesActiveDirectory(*root) || !root->first("defaultNamingContext") ||
        !root->first("configurationNamingContext"))
        throw notActiveDirectory();
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
