#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "bound_entry.h"
#include "directory/service.h"
#include "ldap_group.h"

namespace ldapdir {

// A domain user. Reads come from the entry read at bind; writes wait for setInfo, which sends
// them as one modify request and reads back that the directory holds them. The password waits
// too, so that a new password and "must change at next logon" land together or not at all; when no
// setInfo follows, nothing changes.
class LdapUser final : public directory::User, public BoundEntry {
public:
    // What a bind reads: enough for every property read without another round trip.
    static const std::vector<std::string>& attributes();

    // complete: the entry holds attributes(); false for a listing, which reads the rest on demand.
    LdapUser(std::shared_ptr<Connection> connection, Entry entry, bool complete,
             LdapGroup::MemberResolver resolveMember);
    ~LdapUser() override;

    std::string name() override { return accountName(); }
    std::string adsPath() override { return winntPath(); }
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;

    std::string description() override;
    void setDescription(const std::string& text) override;
    bool accountDisabled() override;
    void setAccountDisabled(bool disabled) override;
    bool isAccountLocked() override;
    void setIsAccountLocked(bool locked) override;
    void setPassword(const directory::Secret& password) override;
    bool passwordNeverExpires() override;
    void groups(const std::function<void(directory::Group&)>& visit) override;

    // The PDC emulator showed the account locked out when it was bound.
    void setLockedAtPdc(bool locked) noexcept { m_lockedAtPdc = locked; }
    // The PDC emulator's lockoutTime when it was bound (0: none); nothing when it did not answer.
    void setPdcLockoutTime(std::optional<std::int64_t> lockoutTime) noexcept { m_pdcLockoutTime = lockoutTime; }

private:
    const Entry& complete();
    std::uint32_t flags(std::string_view attribute);
    std::uint32_t flags(const Entry& entry, std::string_view attribute) const;
    void clearPending() noexcept;
    // The read-only controller in use shows a lock whose end it has not heard of yet.
    bool staleLockHere();
    // Sends the pending changes to at as one request; its read-back is made there too.
    void write(Connection& at, const std::vector<Modification>& changes, std::uint32_t oldFlags,
               const std::optional<std::string>& pwdLastSetBefore);

    bool m_complete;
    bool m_lockedAtPdc = false;
    std::optional<std::int64_t> m_pdcLockoutTime;
    LdapGroup::MemberResolver m_resolveMember;
    std::optional<std::string> m_description;
    std::optional<bool> m_disabled;
    bool m_unlock = false;
    std::optional<std::int64_t> m_pwdLastSet;
    std::optional<std::int64_t> m_accountExpires;
    std::optional<std::string> m_password; // unicodePwd, encoded; zeroed when dropped
};

} // namespace ldapdir
