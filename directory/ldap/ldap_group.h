#pragma once

#include <functional>
#include <optional>

#include "bound_entry.h"
#include "directory/service.h"

namespace ldapdir {

// A domain group. Membership changes act at once; the description waits for setInfo.
class LdapGroup final : public directory::Group, public BoundEntry {
public:
    // Resolves a member's path (WinNT://DOMAIN/name) to its distinguished name; throws when it
    // names nothing.
    using MemberResolver = std::function<std::string(const std::string& memberPath)>;

    static const std::vector<std::string>& attributes();

    LdapGroup(std::shared_ptr<Connection> connection, Entry entry, MemberResolver resolveMember);

    std::string name() override { return accountName(); }
    std::string adsPath() override { return winntPath(); }
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;
    std::string description() override;
    void add(const std::string& memberPath) override;
    void remove(const std::string& memberPath) override;

private:
    void changeMember(const std::string& memberPath, bool adding);

    MemberResolver m_resolveMember;
    std::optional<std::string> m_pendingDescription;
};

} // namespace ldapdir
