#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "directory/service.h"
#include "samr_pipe.h"

namespace samrdir {

// A user of a computer's own account database. Reads come from the state read at bind (or, for
// a listing, on first use). Writes wait for setInfo: the password goes with "must change at next
// logon" in one SetUserInfo2 call, the rest in another, and the state is read back before
// setInfo returns. When no setInfo follows, nothing changes.
class SamrUser final : public directory::User {
public:
    // host: the computer as the path named it.
    SamrUser(std::shared_ptr<SamrPipe> pipe, std::string host, std::uint32_t rid, std::optional<UserState> state,
             std::string name);
    ~SamrUser() override;

    std::string name() override { return m_name; }
    std::string adsPath() override { return "WinNT://" + m_host + "/" + m_name; }
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;

    std::string description() override { return state().description; }
    void setDescription(const std::string& text) override { m_description = text; }
    bool accountDisabled() override { return (state().flags & kAcbDisabled) != 0; }
    void setAccountDisabled(bool disabled) override { m_disabled = disabled; }
    bool isAccountLocked() override { return (state().flags & kAcbAutolock) != 0; }
    void setIsAccountLocked(bool locked) override;
    void setPassword(const directory::Secret& password) override;
    bool passwordNeverExpires() override { return (state().flags & kAcbPwNoExp) != 0; }
    void groups(const std::function<void(directory::Group&)>& visit) override;

private:
    const UserState& state();
    void clearPending() noexcept;
    // Whether `now` holds every pending change; passwordSetBefore, when the password's answer was
    // lost, is its last-set time before the change.
    bool holds(const UserState& now, std::optional<std::uint64_t> passwordSetBefore) const;

    std::shared_ptr<SamrPipe> m_pipe;
    std::string m_host;
    std::uint32_t m_rid;
    std::optional<UserState> m_state;
    std::string m_name;
    std::optional<std::string> m_description;
    std::optional<bool> m_disabled;
    bool m_unlock = false;
    std::optional<bool> m_passwordExpired;
    std::optional<std::uint64_t> m_expiry;
    std::optional<directory::Secret> m_password;
};

} // namespace samrdir
