// Opening a session: the socket, the Kerberos bind and the seal.
#include "connection.h"

#include <openldap.h>
#include <sasl/sasl.h>
#include <unistd.h>

#include <cstring>

#include "dc_locator.h"
#include "directory/sigpipe_guard.h"
#include "ldap_call.h"
#include "ldap_failure.h"

namespace ldapdir {

namespace {

using std::chrono::milliseconds;

// GSSAPI takes everything from the ticket; answer any question with its default, or nothing.
int answerQuietly(LDAP*, unsigned, void*, void* prompts) {
    for (auto* item = static_cast<sasl_interact_t*>(prompts); item->id != SASL_CB_LIST_END; ++item) {
        const char* answer = item->defresult ? item->defresult : "";
        item->result = answer;
        item->len = static_cast<unsigned>(std::strlen(answer));
    }
    return LDAP_SUCCESS;
}

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

int Connection::connectSocket(milliseconds limit) {
    bool timedOut = false;
    const int fd = AddressBook::shared().connect(m_host, limit, timedOut);
    if (fd < 0)
        throw LdapFailure(timedOut ? LDAP_TIMEOUT : LDAP_SERVER_DOWN, m_host, "");
    return fd;
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
    // Its root DSE, which Active Directory shows anyone, also tells a domain controller from
    // another LDAP server (whose refusals of the bind could be anything) before the bind.
    char* capabilities[] = {const_cast<char*>("supportedCapabilities"), nullptr};
    int probe = -1;
    rc = ldap_search_ext(raw, "", LDAP_SCOPE_BASE, "(objectClass=*)", capabilities, 0, nullptr, nullptr, nullptr, 1,
                         &probe);
    if (rc != LDAP_SUCCESS)
        throw LdapFailure(rc, context, diagnostic(raw));
    const MessagePtr rootDse = next(raw, probe, LDAP_MSG_ALL, limit);
    LDAPMessage* const found = ldap_first_entry(raw, rootDse.get());
    if (!found || !announcesActiveDirectory(Entry(raw, found)))
        throw notActiveDirectory();

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

} // namespace ldapdir
