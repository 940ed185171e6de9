#include "samr_user.h"

#include <strings.h>

#include "answer_lost.h"
#include "directory/date_text.h"
#include "directory/ldap/ad_values.h"
#include "samr_group.h"

namespace samrdir {

namespace {

bool is(std::string_view property, std::string_view name) {
    return property.size() == name.size() && strncasecmp(property.data(), name.data(), name.size()) == 0;
}

bool flag(const directory::Value& value) {
    return value.kind() == directory::Value::Kind::Boolean ? value.asBoolean() : value.asInteger() != 0;
}

} // namespace

SamrUser::SamrUser(std::shared_ptr<SamrPipe> pipe, std::string host, std::uint32_t rid, std::optional<UserState> state,
                   std::string name)
    : m_pipe(std::move(pipe)), m_host(std::move(host)), m_rid(rid), m_state(std::move(state)), m_name(std::move(name)) {
}

SamrUser::~SamrUser() {
    clearPending();
}

void SamrUser::clearPending() noexcept {
    m_description.reset();
    m_disabled.reset();
    m_unlock = false;
    m_passwordExpired.reset();
    m_expiry.reset();
    m_password.reset();
}

const UserState& SamrUser::state() {
    if (!m_state)
        m_state = m_pipe->queryUser(m_rid);
    return *m_state;
}

void SamrUser::put(std::string_view property, const directory::Value& value) {
    if (is(property, "Description")) {
        setDescription(value.asText());
    } else if (is(property, "AccountDisabled")) {
        setAccountDisabled(flag(value));
    } else if (is(property, "IsAccountLocked")) {
        setIsAccountLocked(flag(value));
    } else if (is(property, "PasswordExpired")) {
        m_passwordExpired = value.asInteger() != 0;
    } else if (is(property, "AccountExpirationDate")) {
        if (value.isInteger()) {
            if (value.asInteger() != 1)
                throw directory::Error(directory::codes::kBadParameter,
                                       "AccountExpirationDate には日付か、無期限を表す 1 を指定してください。");
            m_expiry = 0;
        } else {
            const auto date = directory::parseDateText(value.asText());
            if (!date)
                throw directory::Error(directory::codes::kBadParameter,
                                       "「" + value.asText() + "」は日付ではありません。");
            m_expiry = static_cast<std::uint64_t>(ldapdir::accountExpiresAfter(*date));
        }
    } else {
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "ユーザーのプロパティ " + std::string(property) + " は扱えません。");
    }
}

void SamrUser::setIsAccountLocked(bool locked) {
    if (locked)
        throw directory::Error(directory::codes::kBadParameter, "アカウントのロックは解除のみできます。");
    m_unlock = true;
}

void SamrUser::setPassword(const directory::Secret& password) {
    m_password.emplace(password.view());
}

bool SamrUser::holds(const UserState& now, std::optional<std::uint64_t> passwordSetBefore) const {
    bool held = true;
    if (m_disabled)
        held = held && ((now.flags & kAcbDisabled) != 0) == *m_disabled;
    if (m_unlock)
        held = held && (now.flags & kAcbAutolock) == 0;
    if (m_description)
        held = held && now.description == *m_description;
    if (m_expiry)
        held = held && (*m_expiry == 0 ? isNoLimit(now.expiry) : now.expiry == *m_expiry);
    if (m_passwordExpired && *m_passwordExpired)
        held = held && now.passwordExpired;
    // A password cannot be read back: when its answer was lost, only a moved last-set time shows
    // it landed. When that was 0 already, nothing can, and the change stays unconfirmed.
    if (m_password && passwordSetBefore)
        held = held && now.passwordLastSet != *passwordSetBefore;
    return held;
}

void SamrUser::setInfo() {
    UserChange change;
    if (m_description)
        change.description = m_description;
    if (m_expiry)
        change.expiry = m_expiry;
    if (m_passwordExpired && !m_password)
        change.passwordExpired = m_passwordExpired;
    if (m_disabled || m_unlock) {
        // From the flags as they are now, not as they were at bind.
        std::uint32_t flags = m_pipe->queryUser(m_rid).flags;
        if (m_disabled)
            flags = *m_disabled ? (flags | kAcbDisabled) : (flags & ~kAcbDisabled);
        if (m_unlock)
            flags &= ~kAcbAutolock;
        change.flags = flags;
    }
    if (!m_password && change.empty())
        return;

    const std::uint64_t passwordSetBefore = m_password ? state().passwordLastSet : 0;
    bool answered = true;
    bool passwordSet = false;
    try {
        if (m_password) {
            m_pipe->setPassword(m_rid, *m_password, m_passwordExpired.value_or(false));
            passwordSet = true;
        }
        m_pipe->setUser(m_rid, change);
    } catch (const AnswerLost&) {
        answered = false;
    } catch (const directory::Error&) {
        // The password landed, then the computer failed before the rest went out: as after a lost
        // answer, what it now holds decides.
        if (!passwordSet || !m_pipe->broken())
            throw;
    }
    // Once a change went out, a lost answer is settled only by what the computer now holds.
    const UserState now = m_pipe->readBack([&] { return m_pipe->queryUser(m_rid); });
    if (!holds(now, answered ? std::nullopt : std::optional(passwordSetBefore))) {
        if (!answered)
            throw AnswerLost(m_host);
        throw directory::Error(directory::codes::kFail, "コンピューター " + m_host + " のアカウント " + m_name +
                                                            " の変更を確認できませんでした。");
    }
    clearPending();
    m_state = now;
}

void SamrUser::groups(const std::function<void(directory::Group&)>& visit) {
    for (const Account& alias : m_pipe->aliasesOf(m_rid)) {
        SamrGroup group(m_pipe, m_host, alias);
        visit(group);
    }
}

} // namespace samrdir
