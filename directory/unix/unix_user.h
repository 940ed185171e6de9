#pragma once

#include <memory>
#include <optional>

#include "directory/object_path.h"
#include "directory/service.h"
#include "unix_context.h"

namespace unixacct {

// A local account. passwd is read here; the shadow state and the faillock tally come through the
// context's AccountAdmin, and every write is kept until setInfo(), which hands them all to it as
// one commit: the new password, like every other value, lands with the commit.
// Disabled means a password locked with "!" or the account expiry day 1 (usermod -L -e 1).
// Enabling removes both; a locked password with nothing behind the "!" becomes "*" (no password
// that could be typed, but not locked), since unlocking it would leave no password at all.
class UnixUser final : public directory::User {
public:
    UnixUser(std::shared_ptr<const UnixContext> context, directory::ObjectPath path, PasswdEntry entry);

    std::string name() override;
    std::string adsPath() override;
    // Description (text), AccountDisabled and IsAccountLocked (Boolean), PasswordExpired (integer 1),
    // AccountExpirationDate (a date text: usable through that local day; or the integer 1: never).
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;

    std::string description() override;
    void setDescription(const std::string& text) override;
    bool accountDisabled() override;
    void setAccountDisabled(bool disabled) override;
    bool isAccountLocked() override;
    // Only false: an account cannot be locked out on purpose.
    void setIsAccountLocked(bool locked) override;
    // Kept for setInfo; empty passwords and line breaks are refused at once. A disabled account
    // stays disabled.
    void setPassword(const directory::Secret& password) override;
    // A last-change day of 0 forces a change whatever the maximum age: never in the way.
    bool passwordNeverExpires() override { return false; }
    // The primary group first, then the groups that list the account, in file order.
    void groups(const std::function<void(directory::Group&)>& visit) override;

private:
    std::shared_ptr<const UnixContext> m_context;
    directory::ObjectPath m_path;
    PasswdEntry m_entry;

    std::optional<std::string> m_newDescription;
    std::optional<bool> m_newDisabled;
    bool m_unlock = false;
    bool m_expirePassword = false;
    std::optional<long> m_newExpiryDay; // -1: never
    std::optional<directory::Secret> m_newPassword;
};

} // namespace unixacct
