#include "ldap_call.h"

#include <algorithm>

#include "ldap_handles.h"

namespace ldapdir {

timeval toTimeval(std::chrono::milliseconds limit) {
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

std::string diagnostic(LDAP* ld) {
    char* raw = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw);
    const LdapText text(raw);
    return text ? std::string(text.get()) : std::string();
}

bool announcesActiveDirectory(const Entry& rootDse) {
    const auto& capabilities = rootDse.all("supportedCapabilities");
    return std::find(capabilities.begin(), capabilities.end(), "1.2.840.113556.1.4.800") != capabilities.end();
}

int resultCode(LDAP* ld) {
    int code = LDAP_OTHER;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

} // namespace ldapdir
