#pragma once

#include <ldap.h>

#include <memory>

#include "directory/sigpipe_guard.h"

namespace ldapdir {

// Owners for the libldap handles, so every path releases them.
struct LdapUnbind {
    void operator()(LDAP* ld) const noexcept {
        const directory::SigpipeGuard quiet; // the unbind request may meet a dropped connection
        ldap_unbind_ext(ld, nullptr, nullptr);
    }
};
struct LdapMessageFree {
    void operator()(LDAPMessage* message) const noexcept { ldap_msgfree(message); }
};
struct LdapMemFree {
    void operator()(void* p) const noexcept { ldap_memfree(p); }
};
struct LdapControlFree {
    void operator()(LDAPControl* control) const noexcept { ldap_control_free(control); }
};
struct LdapControlsFree {
    void operator()(LDAPControl** controls) const noexcept { ldap_controls_free(controls); }
};
struct BerValuesFree {
    void operator()(berval** values) const noexcept { ldap_value_free_len(values); }
};
struct BerElementFree {
    void operator()(BerElement* ber) const noexcept { ber_free(ber, 0); }
};

// Shared so that an operation in progress keeps its handle alive while a nested one drops the
// connection.
using LdapHandle = std::shared_ptr<LDAP>;
using MessagePtr = std::unique_ptr<LDAPMessage, LdapMessageFree>;
using LdapText = std::unique_ptr<char, LdapMemFree>;
using ControlPtr = std::unique_ptr<LDAPControl, LdapControlFree>;
using ControlsPtr = std::unique_ptr<LDAPControl*, LdapControlsFree>;
using BerValues = std::unique_ptr<berval*, BerValuesFree>;
using BerElementPtr = std::unique_ptr<BerElement, BerElementFree>;

} // namespace ldapdir
