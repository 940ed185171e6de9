#include "entry.h"

#include <strings.h>

#include "ldap_handles.h"

namespace ldapdir {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

Entry::Entry(LDAP* ld, LDAPMessage* message) {
    if (LdapText dn{ldap_get_dn(ld, message)})
        m_dn = dn.get();
    BerElement* rawBer = nullptr;
    LdapText name{ldap_first_attribute(ld, message, &rawBer)};
    const BerElementPtr ber(rawBer);
    for (; name; name.reset(ldap_next_attribute(ld, message, ber.get()))) {
        std::vector<std::string> values;
        if (BerValues bv{ldap_get_values_len(ld, message, name.get())}) {
            for (berval** v = bv.get(); *v; ++v)
                values.emplace_back((*v)->bv_val, (*v)->bv_len);
        }
        m_attributes.emplace_back(name.get(), std::move(values));
    }
}

std::optional<std::string> Entry::first(std::string_view attribute) const {
    const auto* values = find(attribute);
    if (!values || values->empty())
        return std::nullopt;
    return values->front();
}

const std::vector<std::string>& Entry::all(std::string_view attribute) const {
    static const std::vector<std::string> kNone;
    const auto* values = find(attribute);
    return values ? *values : kNone;
}

const std::vector<std::string>* Entry::find(std::string_view attribute) const {
    for (const auto& [name, values] : m_attributes)
        if (sameName(name, attribute))
            return &values;
    return nullptr;
}

} // namespace ldapdir
