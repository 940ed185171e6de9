#include "ldap_user.h"

#include <ldap.h>
#include <strings.h>

#include <charconv>
#include <map>

#include "ad_values.h"
#include "directory/date_text.h"
#include "ldap_failure.h"

namespace ldapdir {

namespace {

bool is(std::string_view property, std::string_view name) {
    return property.size() == name.size() && strncasecmp(property.data(), name.data(), name.size()) == 0;
}

std::string lowerDn(std::string dn) {
    for (auto& c : dn)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return dn;
}

} // namespace

const std::vector<std::string>& LdapUser::attributes() {
    static const std::vector<std::string> kAttributes{"sAMAccountName", "description", "userAccountControl",
                                                      "msDS-User-Account-Control-Computed"};
    return kAttributes;
}

LdapUser::LdapUser(std::shared_ptr<Connection> connection, Entry entry, bool complete,
                   LdapGroup::MemberResolver resolveMember)
    : BoundEntry(std::move(connection), std::move(entry)), m_complete(complete),
      m_resolveMember(std::move(resolveMember)) {}

const Entry& LdapUser::complete() {
    if (!m_complete) {
        auto fresh = connection().findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes());
        if (!fresh)
            throw directory::Error(directory::codes::kNoSuchUser, "The user " + name() + " no longer exists");
        replaceEntry(std::move(*fresh));
        m_complete = true;
    }
    return entry();
}

std::uint32_t LdapUser::flags(std::string_view attribute) {
    const auto text = complete().first(attribute);
    const auto value = text ? parseAccountControl(*text) : std::nullopt;
    if (!value)
        throw directory::Error(directory::codes::kAccessDenied,
                               "The attribute " + std::string(attribute) + " of " + name() + " cannot be read");
    return *value;
}

void LdapUser::put(std::string_view property, const directory::Value& value) {
    if (is(property, "Description")) {
        setDescription(value.asText());
    } else if (is(property, "AccountDisabled")) {
        setAccountDisabled(value.kind() == directory::Value::Kind::Boolean ? value.asBoolean()
                                                                           : value.asInteger() != 0);
    } else if (is(property, "IsAccountLocked")) {
        setIsAccountLocked(value.kind() == directory::Value::Kind::Boolean ? value.asBoolean()
                                                                           : value.asInteger() != 0);
    } else if (is(property, "PasswordExpired")) {
        // 0 makes the user change the password at the next logon; -1 stamps it as set just now.
        m_pwdLastSet = value.asInteger() != 0 ? 0 : -1;
    } else if (is(property, "AccountExpirationDate")) {
        if (value.isInteger()) {
            if (value.asInteger() != 1)
                throw directory::Error(directory::codes::kBadParameter,
                                       "AccountExpirationDate takes a date, or 1 for no expiry date");
            m_accountExpires = kNeverExpires;
        } else {
            const auto date = directory::parseDateText(value.asText());
            if (!date)
                throw directory::Error(directory::codes::kBadParameter, "\"" + value.asText() + "\" is not a date");
            m_accountExpires = accountExpiresAfter(*date);
        }
    } else {
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "The property " + std::string(property) + " is not supported on a user");
    }
}

void LdapUser::setInfo() {
    std::vector<Modification> changes;
    if (m_description) {
        changes.emplace_back(LDAP_MOD_REPLACE, "description",
                             m_description->empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{*m_description});
    }
    std::optional<std::uint32_t> newFlags;
    if (m_disabled) {
        // Delete the value read at bind and add the new one: if someone changed it meanwhile the
        // delete fails and the whole request with it, instead of overwriting their change.
        const std::uint32_t old = flags("userAccountControl");
        newFlags = *m_disabled ? (old | kAccountDisable) : (old & ~kAccountDisable);
        changes.emplace_back(LDAP_MOD_DELETE, "userAccountControl", std::vector<std::string>{std::to_string(old)});
        changes.emplace_back(LDAP_MOD_ADD, "userAccountControl", std::vector<std::string>{std::to_string(*newFlags)});
    }
    if (m_unlock)
        changes.emplace_back(LDAP_MOD_REPLACE, "lockoutTime", std::vector<std::string>{"0"});
    if (m_pwdLastSet)
        changes.emplace_back(LDAP_MOD_REPLACE, "pwdLastSet", std::vector<std::string>{std::to_string(*m_pwdLastSet)});
    if (m_accountExpires)
        changes.emplace_back(LDAP_MOD_REPLACE, "accountExpires",
                             std::vector<std::string>{std::to_string(*m_accountExpires)});
    if (changes.empty())
        return;
    try {
        connection().modify(distinguishedName(), changes);
    } catch (const LdapFailure& failure) {
        if (m_disabled && failure.resultCode() == LDAP_NO_SUCH_ATTRIBUTE)
            throw directory::Error(directory::codes::kFail,
                                   "The account " + name() + " was changed by someone else meanwhile; bind it again (" +
                                       failure.description() + ")");
        throw;
    }
    m_description.reset();
    m_disabled.reset();
    m_unlock = false;
    m_pwdLastSet.reset();
    m_accountExpires.reset();
    // The entry no longer matches the directory; read it again when asked.
    m_complete = false;
}

std::string LdapUser::description() {
    return complete().first("description").value_or("");
}

void LdapUser::setDescription(const std::string& text) {
    m_description = text;
}

bool LdapUser::accountDisabled() {
    return (flags("userAccountControl") & kAccountDisable) != 0;
}

void LdapUser::setAccountDisabled(bool disabled) {
    m_disabled = disabled;
}

bool LdapUser::isAccountLocked() {
    // The computed bit honours the lockout duration; lockoutTime stays set after a lockout expired.
    return (flags("msDS-User-Account-Control-Computed") & kLockout) != 0;
}

void LdapUser::setIsAccountLocked(bool locked) {
    if (locked)
        throw directory::Error(directory::codes::kBadParameter, "An account can be unlocked, but not locked");
    m_unlock = true;
}

void LdapUser::setPassword(const directory::Secret& password) {
    connection().requireSealed();
    std::vector<Modification> changes;
    changes.emplace_back(LDAP_MOD_REPLACE, "unicodePwd", std::vector<std::string>(1), true);
    encodePassword(password.view(), changes.front().values.front());
    connection().modify(distinguishedName(), changes);
}

void LdapUser::groups(const std::function<void(directory::Group&)>& visit) {
    const auto fresh =
        connection().findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", {"memberOf", "primaryGroupID"});
    if (!fresh)
        throw directory::Error(directory::codes::kNoSuchUser, "The user " + name() + " no longer exists");

    std::string filter = "(&(objectClass=group)(|";
    std::optional<std::string> primarySid;
    if (const auto rid = fresh->first("primaryGroupID")) {
        std::uint32_t value = 0;
        if (std::from_chars(rid->data(), rid->data() + rid->size(), value).ec == std::errc())
            primarySid = sidWithRid(connection().domain().sid, value);
        if (primarySid)
            filter += "(objectSid=" + escapeFilterBytes(*primarySid) + ")";
    }
    const auto& memberOf = fresh->all("memberOf");
    for (const auto& dn : memberOf)
        filter += "(distinguishedName=" + escapeFilterValue(dn) + ")";
    filter += "))";
    if (!primarySid && memberOf.empty())
        return;

    // One search for all of them; then the primary group first and the rest in memberOf's order.
    std::map<std::string, Entry> found;
    std::optional<Entry> primary;
    std::vector<std::string> searchAttributes = LdapGroup::attributes();
    searchAttributes.push_back("objectSid");
    connection().search(connection().domain().defaultNamingContext, LDAP_SCOPE_SUBTREE, filter, searchAttributes,
                        [&](const Entry& group) {
                            if (primarySid && group.first("objectSid") == primarySid)
                                primary = group;
                            else
                                found.emplace(lowerDn(group.dn()), group);
                        });
    if (primary) {
        LdapGroup group(sharedConnection(), std::move(*primary), m_resolveMember);
        visit(group);
    }
    for (const auto& dn : memberOf) {
        const auto it = found.find(lowerDn(dn));
        if (it == found.end())
            continue; // a group of another domain, which this connection cannot read
        LdapGroup group(sharedConnection(), it->second, m_resolveMember);
        visit(group);
    }
}

} // namespace ldapdir
