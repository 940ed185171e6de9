#include "connection.h"

#include <sasl/sasl.h>
#include <sys/time.h>

#include <cstring>

#include "ad_values.h"
#include "directory/error.h"
#include "directory/secret.h"
#include "ldap_failure.h"
#include "sigpipe_guard.h"

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

timeval toTimeval(std::chrono::seconds s) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(s.count());
    return tv;
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

} // namespace

Modification::~Modification() {
    if (sensitive)
        for (auto& value : values)
            directory::secureZero(value);
}

Connection::Connection(std::string host, Timeouts timeouts) : m_host(std::move(host)), m_timeouts(timeouts) {
    open();
    readDomain();
}

void Connection::open() {
    const SigpipeGuard quiet;
    const std::string context = "Kerberos bind to " + m_host;
    const bool ipv6 = m_host.find(':') != m_host.rfind(':');
    const std::string uri = "ldap://" + (ipv6 ? "[" + m_host + "]" : m_host);
    LDAP* raw = nullptr;
    int rc = ldap_initialize(&raw, uri.c_str());
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, "");
    LdapHandle ld(raw, LdapUnbind());

    int version = LDAP_VERSION3;
    timeval connectTimeout = toTimeval(m_timeouts.connect);
    timeval operationTimeout = toTimeval(m_timeouts.operation);
    char secprops[] = "minssf=56";
    if (ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_TIMEOUT, &operationTimeout) != LDAP_OPT_SUCCESS ||
        // The service principal is ldap/<name as given>; a reverse lookup would break it.
        ldap_set_option(raw, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON) != LDAP_OPT_SUCCESS ||
        ldap_set_option(raw, LDAP_OPT_X_SASL_SECPROPS, secprops) != LDAP_OPT_SUCCESS)
        throw LdapFailure(LDAP_PARAM_ERROR, context, "cannot set connection options");

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
        reply = next(raw, msgid, LDAP_MSG_ALL, context);
    }
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, diagnostic(raw));

    ber_len_t ssf = 0; // libldap writes a ber_len_t here
    if (ldap_get_option(raw, LDAP_OPT_X_SASL_SSF, &ssf) != LDAP_OPT_SUCCESS || ssf < kMinimumSsf)
        throw LdapFailure(LDAP_STRONG_AUTH_REQUIRED, context, "the session is not encrypted");
    m_ld = std::move(ld);
}

LdapHandle Connection::handle() {
    if (!m_ld)
        open();
    return m_ld;
}

template <class Op> void Connection::withReconnect(Op&& op, const bool* mayRetry) {
    const SigpipeGuard quiet;
    for (int attempt = 0;; ++attempt) {
        const bool fresh = !m_ld;
        const LdapHandle ld = handle();
        try {
            op(ld.get());
            return;
        } catch (const LdapFailure& failure) {
            if (!isConnectionLoss(failure.resultCode()) && failure.resultCode() != LDAP_TIMEOUT)
                throw;
            // Whatever state the session is in, it is of no further use.
            if (m_ld == ld)
                m_ld.reset();
            if (fresh || attempt > 0 || failure.resultCode() == LDAP_TIMEOUT || (mayRetry && !*mayRetry))
                throw;
        }
    }
}

MessagePtr Connection::next(LDAP* ld, int msgid, int all, const std::string& context) {
    timeval wait = toTimeval(m_timeouts.operation);
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

void Connection::awaitSuccess(LDAP* ld, int msgid, const std::string& context) {
    const MessagePtr message = next(ld, msgid, LDAP_MSG_ALL, context);
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
    const std::string context = "Search " + (base.empty() ? std::string("root DSE") : base) + " for " + filter;
    std::vector<char*> names;
    names.reserve(attributes.size() + 1);
    for (const auto& name : attributes)
        names.push_back(const_cast<char*>(name.c_str()));
    names.push_back(nullptr);

    // A search that has already handed out entries is not restarted: that would repeat them.
    bool mayRetry = true;
    withReconnect(
        [&](LDAP* ld) {
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
                timeval limit = toTimeval(m_timeouts.operation);
                int msgid = -1;
                const int rc =
                    ldap_search_ext(ld, base.c_str(), scope, filter.c_str(), names.data(), 0, controls, nullptr, &limit,
                                    pageSize > 0 ? LDAP_NO_LIMIT : m_unpagedSizeLimit, &msgid);
                if (rc != LDAP_SUCCESS)
                    throw LdapFailure(rc, context, diagnostic(ld));
                PendingRequest pending(ld, msgid);
                cookie.clear();
                int entries = 0;
                for (;;) {
                    const MessagePtr message = next(ld, msgid, LDAP_MSG_ONE, context);
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

void Connection::modify(const std::string& dn, const std::vector<Modification>& changes) {
    const std::string context = "Modify " + dn;
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

    withReconnect([&](LDAP* ld) {
        int msgid = -1;
        const int rc = ldap_modify_ext(ld, dn.c_str(), list.data(), nullptr, nullptr, &msgid);
        if (rc != LDAP_SUCCESS)
            throw LdapFailure(rc, context, diagnostic(ld));
        awaitSuccess(ld, msgid, context);
    });
}

void Connection::requireSealed() {
    withReconnect([&](LDAP* ld) {
        ber_len_t ssf = 0; // libldap writes a ber_len_t here
        if (ldap_get_option(ld, LDAP_OPT_X_SASL_SSF, &ssf) != LDAP_OPT_SUCCESS || ssf < kMinimumSsf)
            throw LdapFailure(LDAP_STRONG_AUTH_REQUIRED, "Password change on " + m_host,
                              "the session is not encrypted");
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
        throw directory::Error(directory::codes::kNotFound, m_host + " is no Active Directory domain controller");
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
    const auto head = findOne(m_domain.defaultNamingContext, LDAP_SCOPE_BASE, "(objectClass=*)", {"objectSid"});
    if (head)
        m_domain.sid = head->first("objectSid").value_or("");
    if (m_domain.netbiosName.empty() || m_domain.sid.empty())
        throw directory::Error(directory::codes::kNotFound,
                               m_host + " did not say which domain it serves (NetBIOS name or domain SID missing)");
}

} // namespace ldapdir
