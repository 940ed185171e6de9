#include "ldap_failure.h"

#include <ldap.h>

#include <cctype>

namespace ldapdir {

namespace {

// Active Directory starts its diagnostics with the Windows error code in eight hex digits.
std::string_view windowsCode(std::string_view diagnostic) {
    if (diagnostic.size() < 8)
        return {};
    for (std::size_t i = 0; i < 8; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(diagnostic[i])))
            return {};
    return diagnostic.substr(0, 8);
}

bool isPasswordPolicy(std::string_view diagnostic) {
    const std::string_view code = windowsCode(diagnostic);
    return code == "0000052D" || code == "0000052d";
}

std::string describe(int resultCode, std::string_view host, std::string_view diagnostic) {
    std::string text;
    switch (resultCode) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        text = "ドメインコントローラー " + std::string(host) + " に接続できません。";
        break;
    case LDAP_TIMEOUT:
        text = "ドメインコントローラー " + std::string(host) + " から応答がありません。";
        break;
    case LDAP_INSUFFICIENT_ACCESS:
        text = "アクセスが拒否されました。";
        break;
    case LDAP_NO_SUCH_OBJECT:
        text = "対象のオブジェクトがありません。";
        break;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_AUTH_UNKNOWN:
    case LDAP_LOCAL_ERROR:
        text = "Kerberos 認証に失敗しました。kinit でチケットを取り直してください。";
        break;
    case LDAP_STRONG_AUTH_REQUIRED:
        text = "ドメインコントローラー " + std::string(host) + " と暗号化された接続を確立できません。";
        break;
    default:
        text = isPasswordPolicy(diagnostic) ? "パスワードがパスワードポリシーを満たしていません。"
                                            : "ドメインコントローラーが要求を拒否しました。";
        break;
    }
    // Negative codes are libldap's own, which the text above already says all of.
    if (resultCode < 0)
        return text;
    text += " (LDAP " + std::to_string(resultCode);
    if (const std::string_view code = windowsCode(diagnostic); !code.empty()) {
        text += " / ";
        text += code;
    }
    text += ')';
    return text;
}

} // namespace

LdapFailure::LdapFailure(int resultCode, std::string_view host, std::string_view diagnostic)
    : directory::Error(numberFor(resultCode, diagnostic), describe(resultCode, host, diagnostic)),
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
        return isPasswordPolicy(diagnostic) ? kPasswordPolicy : kFail;
    default:
        return kFail;
    }
}

bool isConnectionLoss(int resultCode) noexcept {
    return resultCode == LDAP_SERVER_DOWN || resultCode == LDAP_CONNECT_ERROR;
}

bool isConnectionTrouble(int resultCode) noexcept {
    return isConnectionLoss(resultCode) || resultCode == LDAP_TIMEOUT;
}

} // namespace ldapdir
