#include "ldap_failure.h"

#include <ldap.h>

namespace ldapdir {

namespace {

std::string describe(int resultCode, std::string_view context, std::string_view diagnostic) {
    std::string text(context);
    text += ": ";
    switch (resultCode) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        text += "the domain controller cannot be reached";
        break;
    case LDAP_TIMEOUT:
        text += "the domain controller did not answer in time";
        break;
    case LDAP_INSUFFICIENT_ACCESS:
        text += "access is denied";
        break;
    default:
        text += ldap_err2string(resultCode);
        break;
    }
    while (!diagnostic.empty() && (diagnostic.back() == '\n' || diagnostic.back() == '\r' || diagnostic.back() == ' '))
        diagnostic.remove_suffix(1);
    if (!diagnostic.empty()) {
        text += " (";
        text += diagnostic;
        text += ')';
    }
    return text;
}

} // namespace

LdapFailure::LdapFailure(int resultCode, std::string_view context, std::string_view diagnostic)
    : directory::Error(numberFor(resultCode, diagnostic), describe(resultCode, context, diagnostic)),
      m_resultCode(resultCode) {}

long LdapFailure::numberFor(int resultCode, std::string_view diagnostic) noexcept {
    using namespace directory::codes;
    switch (resultCode) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        return kServerUnavailable;
    case LDAP_TIMEOUT:
        return kTimeout;
    case LDAP_INSUFFICIENT_ACCESS:
        return kAccessDenied;
    case LDAP_NO_SUCH_OBJECT:
        return kUnknownObject;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_AUTH_UNKNOWN:
    case LDAP_LOCAL_ERROR:
        return kLogonFailure;
    case LDAP_CONSTRAINT_VIOLATION:
    case LDAP_UNWILLING_TO_PERFORM:
        // 0x52D (ERROR_PASSWORD_RESTRICTION) is how the server says the password policy refused it.
        if (diagnostic.substr(0, 8) == "0000052D" || diagnostic.substr(0, 8) == "0000052d")
            return kPasswordPolicy;
        return kFail;
    default:
        return kFail;
    }
}

bool isConnectionLoss(int resultCode) noexcept {
    return resultCode == LDAP_SERVER_DOWN || resultCode == LDAP_CONNECT_ERROR;
}

} // namespace ldapdir
