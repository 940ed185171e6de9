#include "ldap_user.h"

#include <ldap.h>
#include <strings.h>

#include <charconv>

#include "ad_values.h"
#include "connection_cache.h"
#include "directory/date_text.h"
#include "directory/secret.h"
#include "ldap_failure.h"
#include "long_search.h"
#include "read_only_controller.h"

namespace ldapdir {

namespace {

bool is(std::string_view property, std::string_view name) {
    return property.size() == name.size() && strncasecmp(property.data(), name.data(), name.size()) == 0;
}

} // namespace

const std::vector<std::string>& LdapUser::attributes() {
    static const std::vector<std::string> kAttributes{"sAMAccountName",     "description",
                                                      "userAccountControl", "msDS-User-Account-Control-Computed",
                                                      "pwdLastSet",         "lockoutTime"};
    return kAttributes;
}

LdapUser::LdapUser(std::shared_ptr<Connection> connection, Entry entry, bool complete,
                   LdapGroup::MemberResolver resolveMember)
    : BoundEntry(std::move(connection), std::move(entry)), m_complete(complete),
      m_resolveMember(std::move(resolveMember)) {}

LdapUser::~LdapUser() {
    clearPending();
}

void LdapUser::clearPending() noexcept {
    m_description.reset();
    m_disabled.reset();
    m_unlock = false;
    m_pwdLastSet.reset();
    m_accountExpires.reset();
    if (m_password) {
        directory::secureZero(*m_password);
        m_password.reset();
    }
}

const Entry& LdapUser::complete() {
    if (!m_complete) {
        auto fresh = connection().findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes());
        if (!fresh)
            throw directory::Error(directory::codes::kNoSuchUser, "ユーザー " + name() + " は存在しません。");
        replaceEntry(std::move(*fresh));
        m_complete = true;
    }
    return entry();
}

std::uint32_t LdapUser::flags(std::string_view attribute) {
    return flags(complete(), attribute);
}

std::uint32_t LdapUser::flags(const Entry& from, std::string_view attribute) const {
    const auto text = from.first(attribute);
    const auto value = text ? parseAccountControl(*text) : std::nullopt;
    if (!value)
        throw directory::Error(directory::codes::kAccessDenied,
                               accountName() + " の属性 " + std::string(attribute) + " を読み取れません。");
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
                                       "AccountExpirationDate には日付か、無期限を表す 1 を指定してください。");
            m_accountExpires = kNeverExpires;
        } else {
            const auto date = directory::parseDateText(value.asText());
            if (!date)
                throw directory::Error(directory::codes::kBadParameter,
                                       "「" + value.asText() + "」は日付ではありません。");
            m_accountExpires = accountExpiresAfter(*date);
        }
    } else {
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "ユーザーのプロパティ " + std::string(property) + " は扱えません。");
    }
}

void LdapUser::setInfo() {
    Connection& at = writer();
    Connection* const pdc = pdcEmulator();
    if (m_unlock && m_lockedAtPdc && &at != pdc)
        throw directory::Error(directory::codes::kServerUnavailable,
                               "アカウント " + name() + " をロックした PDC エミュレーター " + pdc->host() +
                                   " が応答しないため、ロックを解除できません。");
    // What a write compares with is read where the write goes: the controller in use may not have
    // seen the last change yet (15 s inside a site, hours between sites).
    std::optional<Entry> atWriter;
    const auto before = [&]() -> const Entry& {
        if (&at == &connection())
            return complete();
        if (!atWriter) {
            atWriter = at.findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                  {"userAccountControl", "pwdLastSet"});
            if (!atWriter)
                throw directory::Error(directory::codes::kNoSuchUser,
                                       "ユーザー " + name() + " は " + at.host() + " にありません。");
        }
        return *atWriter;
    };
    std::vector<Modification> changes;
    changes.reserve(7);
    std::optional<std::string> pwdLastSetBefore;
    if (m_password) {
        at.requireSealed();
        pwdLastSetBefore = before().first("pwdLastSet");
        // Copied straight into the request's own buffer, which is zeroed with it.
        changes.emplace_back(LDAP_MOD_REPLACE, "unicodePwd", std::vector<std::string>(1), true);
        changes.back().values.front() = *m_password;
    }
    if (m_description) {
        changes.emplace_back(LDAP_MOD_REPLACE, "description",
                             m_description->empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{*m_description});
    }
    std::uint32_t oldFlags = 0;
    if (m_disabled) {
        // Delete the value read and add the new one: if someone changed it meanwhile the delete
        // fails and the whole request with it, instead of overwriting their change.
        oldFlags = flags(before(), "userAccountControl");
        const std::uint32_t newFlags = *m_disabled ? (oldFlags | kAccountDisable) : (oldFlags & ~kAccountDisable);
        changes.emplace_back(LDAP_MOD_DELETE, "userAccountControl", std::vector<std::string>{std::to_string(oldFlags)});
        changes.emplace_back(LDAP_MOD_ADD, "userAccountControl", std::vector<std::string>{std::to_string(newFlags)});
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

    write(at, changes, oldFlags, pwdLastSetBefore);
    // A read-only controller that showed the lock cannot be cleared: every writable one that still
    // holds it is, so that it hears of nothing but the unlock.
    if (m_unlock && connection().readOnly() && controllers() && ticket() &&
        (flags("msDS-User-Account-Control-Computed") & kLockout) != 0) {
        const std::int64_t shown = lockoutTimeOf(complete());
        clearLockoutAt(controllers()->writableControllers(connection(), *ticket()), at, distinguishedName());
        controllers()->clearedLocks().add(distinguishedName(), shown);
    }
    // A controller that showed the lock keeps it until it hears of the unlock; clear it there too.
    if (m_unlock && &at != &connection() && !connection().readOnly() &&
        (flags("msDS-User-Account-Control-Computed") & kLockout) != 0) {
        std::vector<Modification> unlock;
        unlock.emplace_back(LDAP_MOD_REPLACE, "lockoutTime", std::vector<std::string>{"0"});
        connection().modify(distinguishedName(), unlock, [&](bool) {
            const auto now =
                connection().findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", {"lockoutTime"});
            if (!now)
                throw directory::Error(directory::codes::kNoSuchUser, "ユーザー " + name() + " は存在しません。");
            return now->first("lockoutTime").value_or("0") == "0" ? Held::Yes : Held::No;
        });
    }
    if (m_unlock)
        m_lockedAtPdc = false;
    clearPending();
    // The entry no longer matches the directory; read it again when asked.
    m_complete = false;
}

void LdapUser::write(Connection& at, const std::vector<Modification>& changes, std::uint32_t oldFlags,
                     const std::optional<std::string>& pwdLastSetBefore) {
    // Whether the entry as the server now holds it carries every change of the request.
    const auto holds = [&](bool answered) {
        const auto now =
            at.findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)",
                       {"description", "userAccountControl", "lockoutTime", "pwdLastSet", "accountExpires"});
        if (!now)
            throw directory::Error(directory::codes::kNoSuchUser, "ユーザー " + name() + " は存在しません。");
        bool held = true;
        if (m_description)
            held = held && now->first("description").value_or("") == *m_description;
        if (m_disabled) {
            const std::uint32_t current = flags(*now, "userAccountControl");
            const bool asked = ((current & kAccountDisable) != 0) == *m_disabled;
            // Anything but the value the request deletes would make it fail as a whole.
            if (!asked && current != oldFlags)
                return Held::Conflict;
            held = held && asked;
        }
        const std::string pwdLastSet = now->first("pwdLastSet").value_or("");
        if (m_unlock)
            held = held && now->first("lockoutTime").value_or("0") == "0";
        if (m_pwdLastSet)
            held = held && (*m_pwdLastSet == 0 ? pwdLastSet == "0" : pwdLastSet != "0");
        if (m_accountExpires)
            held = held && now->first("accountExpires") == std::to_string(*m_accountExpires);
        // A password cannot be read back; it went in the same request as the rest, so it is there
        // when the server said so, or when pwdLastSet moved. When pwdLastSet was 0 already nothing
        // can show it: the write then stays unconfirmed rather than reported as not applied.
        if (m_password && !answered)
            held = held && pwdLastSet != pwdLastSetBefore.value_or("");
        return held ? Held::Yes : Held::No;
    };
    try {
        at.modify(distinguishedName(), changes, holds);
    } catch (const LdapFailure& failure) {
        if (m_disabled && failure.resultCode() == LDAP_NO_SUCH_ATTRIBUTE)
            throw directory::Error(directory::codes::kFail,
                                   "アカウント " + name() +
                                       " は他の操作で変更されています。もう一度やり直してください。");
        throw;
    }
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
    // The PDC emulator may know of a lockout the controller in use has not heard of yet.
    return m_lockedAtPdc || ((flags("msDS-User-Account-Control-Computed") & kLockout) != 0 && !staleLockHere());
}

bool LdapUser::staleLockHere() {
    if (!connection().readOnly())
        return false;
    const std::int64_t shown = lockoutTimeOf(complete());
    return staleLock(shown, m_pdcLockoutTime,
                     controllers() && controllers()->clearedLocks().contains(distinguishedName(), shown));
}

bool LdapUser::passwordNeverExpires() {
    return (flags("userAccountControl") & kDontExpirePassword) != 0;
}

void LdapUser::setIsAccountLocked(bool locked) {
    if (locked)
        throw directory::Error(directory::codes::kBadParameter, "アカウントのロックは解除のみできます。");
    m_unlock = true;
}

void LdapUser::setPassword(const directory::Secret& password) {
    if (m_password)
        directory::secureZero(*m_password);
    // Encoded in place: a moved short string would leave its bytes behind.
    m_password.emplace();
    try {
        encodePassword(password.view(), *m_password);
    } catch (...) {
        directory::secureZero(*m_password);
        m_password.reset();
        throw;
    }
}

void LdapUser::groups(const std::function<void(directory::Group&)>& visit) {
    const auto fresh =
        connection().findOne(distinguishedName(), LDAP_SCOPE_BASE, "(objectClass=*)", {"primaryGroupID"});
    if (!fresh)
        throw directory::Error(directory::codes::kNoSuchUser, "ユーザー " + name() + " は存在しません。");

    // The groups that list the user, found by an indexed search rather than through memberOf: a
    // Windows DC hands out only a range of a long memberOf, and a filter naming each group grows
    // with it.
    std::string filter = "(&(objectClass=group)(|(member=" + escapeFilterValue(distinguishedName()) + ")";
    std::optional<std::string> primarySid;
    if (const auto rid = fresh->first("primaryGroupID")) {
        std::uint32_t value = 0;
        if (std::from_chars(rid->data(), rid->data() + rid->size(), value).ec == std::errc())
            primarySid = sidWithRid(connection().domain().sid, value);
        if (primarySid)
            filter += "(objectSid=" + escapeFilterBytes(*primarySid) + ")";
    }
    filter += "))";

    // The primary group first, then the rest in the directory's order.
    std::optional<Entry> primary;
    std::vector<Entry> others;
    std::vector<std::string> searchAttributes = LdapGroup::attributes();
    searchAttributes.push_back("objectSid");
    searchAll(connection(), connection().domain().defaultNamingContext, LDAP_SCOPE_SUBTREE, filter, searchAttributes,
              [&](Entry& group) {
                  if (!primary && primarySid && group.first("objectSid") == primarySid)
                      primary = std::move(group);
                  else
                      others.push_back(std::move(group));
              });
    if (primary) {
        LdapGroup group(sharedConnection(), std::move(*primary), m_resolveMember);
        visit(group);
    }
    for (auto& entry : others) {
        LdapGroup group(sharedConnection(), std::move(entry), m_resolveMember);
        visit(group);
    }
}

} // namespace ldapdir
