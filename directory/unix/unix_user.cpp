#include "unix_user.h"

#include <ctime>

#include "account_expiry.h"
#include "account_name.h"
#include "directory/date_text.h"
#include "local_admin.h"
#include "unix_group.h"

namespace unixacct {
namespace {

// Expiry day 1 is the disabled mark; 0 is what some tools leave for the same purpose.
bool isDisabledExpiry(long day) {
    return day == 0 || day == 1;
}

} // namespace

UnixUser::UnixUser(std::shared_ptr<const UnixContext> context, directory::ObjectPath path, PasswdEntry entry)
    : m_context(std::move(context)), m_path(std::move(path)), m_entry(std::move(entry)) {}

std::string UnixUser::name() {
    return m_entry.name;
}

std::string UnixUser::adsPath() {
    return objectPathText(m_path, m_entry.name, "User");
}

void UnixUser::put(std::string_view property, const directory::Value& value) {
    using directory::codes::kBadParameter;
    if (equalsNoCase(property, "Description")) {
        setDescription(value.asText());
    } else if (equalsNoCase(property, "AccountDisabled")) {
        setAccountDisabled(value.asBoolean());
    } else if (equalsNoCase(property, "IsAccountLocked")) {
        setIsAccountLocked(value.asBoolean());
    } else if (equalsNoCase(property, "PasswordExpired")) {
        if (value.asInteger() != 1)
            throw directory::Error(kBadParameter, "PasswordExpired に指定できるのは 1 だけです。");
        m_expirePassword = true;
    } else if (equalsNoCase(property, "AccountExpirationDate")) {
        if (value.isInteger()) {
            if (value.asInteger() != 1)
                throw directory::Error(kBadParameter, "有効期限には日付か整数の 1（無期限）を指定してください。");
            m_newExpiryDay = -1;
        } else {
            const auto date = directory::parseDateText(value.asText());
            if (!date)
                throw directory::Error(kBadParameter,
                                       "「" + value.asText() + "」は日付ではありません。年/月/日で指定してください。");
            m_newExpiryDay = shadowExpiryDay(*date);
        }
    } else {
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "ローカルアカウントにはプロパティ " + std::string(property) + " がありません。");
    }
}

std::string UnixUser::description() {
    return m_newDescription ? *m_newDescription : m_entry.gecos;
}

void UnixUser::setDescription(const std::string& text) {
    m_newDescription = text;
}

bool UnixUser::accountDisabled() {
    if (m_newDisabled)
        return *m_newDisabled;
    const ShadowState shadow = m_context->admin.shadowState(m_entry.name);
    return shadow.passwordLocked || isDisabledExpiry(shadow.expire);
}

void UnixUser::setAccountDisabled(bool disabled) {
    m_newDisabled = disabled;
}

bool UnixUser::isAccountLocked() {
    if (m_unlock)
        return false;
    return m_context->admin.lockedOut(m_entry.name);
}

void UnixUser::setIsAccountLocked(bool locked) {
    if (locked)
        throw directory::Error(directory::codes::kBadParameter,
                               "ローカルアカウントを意図してロックアウトすることはできません。");
    m_unlock = true;
}

void UnixUser::setInfo() {
    UserChange change;
    change.user = m_entry.name;
    change.description = m_newDescription;
    change.disabled = m_newDisabled;
    change.unlock = m_unlock;
    change.expirePassword = m_expirePassword;
    change.expiryDay = m_newExpiryDay;
    if (m_newPassword)
        change.password.emplace(m_newPassword->view());
    if (!change.description && !change.disabled && !change.unlock && !change.expirePassword && !change.expiryDay &&
        !change.password)
        return;
    // Everything is checked here first, so a refused value never reaches the privileged side.
    checkUserChange(change);
    m_context->admin.commit(change);

    if (m_newDescription)
        m_entry.gecos = *m_newDescription;
    m_newDescription.reset();
    m_newDisabled.reset();
    m_unlock = false;
    m_expirePassword = false;
    m_newExpiryDay.reset();
    m_newPassword.reset();
}

void UnixUser::setPassword(const directory::Secret& password) {
    UserChange check;
    check.user = m_entry.name;
    check.password.emplace(password.view());
    checkUserChange(check);
    // Kept for the commit: the new hash and the must-change mark go to the shadow file in one write.
    m_newPassword.emplace(password.view());
}

void UnixUser::groups(const std::function<void(directory::Group&)>& visit) {
    const auto primary = m_context->accounts.findGroup(m_entry.gid);
    std::vector<GroupEntry> found;
    if (primary)
        found.push_back(*primary);
    m_context->accounts.forEachGroup([&](const GroupEntry& group) {
        if (primary && group.gid == primary->gid && group.name == primary->name)
            return true;
        for (const std::string& member : group.members)
            if (member == m_entry.name) {
                found.push_back(group);
                break;
            }
        return true;
    });
    for (GroupEntry& entry : found) {
        directory::ObjectPath groupPath = m_path;
        groupPath.name = entry.name;
        groupPath.className = "Group";
        UnixGroup group(m_context, std::move(groupPath), std::move(entry));
        visit(group);
    }
}

} // namespace unixacct
