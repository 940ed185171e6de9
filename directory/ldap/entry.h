#pragma once

#include <ldap.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ldapdir {

// One search result: its distinguished name and the attribute values the search asked for.
// Attribute names compare without regard to case, as LDAP's do.
class Entry {
public:
    Entry() = default;
    // Copies the entry's DN and every attribute out of a libldap message.
    Entry(LDAP* ld, LDAPMessage* message);

    const std::string& dn() const noexcept { return m_dn; }
    // The first value, or nothing when the attribute is absent.
    std::optional<std::string> first(std::string_view attribute) const;
    // All values in the server's order; empty when absent.
    const std::vector<std::string>& all(std::string_view attribute) const;
    bool has(std::string_view attribute) const { return find(attribute) != nullptr; }

private:
    const std::vector<std::string>* find(std::string_view attribute) const;

    std::string m_dn;
    std::vector<std::pair<std::string, std::vector<std::string>>> m_attributes;
};

} // namespace ldapdir
