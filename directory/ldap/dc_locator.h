#pragma once

#include <string>
#include <vector>

namespace ldapdir {

// What DNS says about where a domain's controllers are.
class DcLocator {
public:
    // The domain controllers of a DNS domain from its _ldap._tcp.dc._msdcs SRV records, lowest
    // priority first and, within one priority, highest weight first. Each is a host name, with
    // ":port" when the port is not 389. Empty when the name has no such records.
    static std::vector<std::string> domainControllers(const std::string& dnsDomain);
    // The PDC emulator from the _ldap._tcp.pdc._msdcs SRV record, in the same form; a first guess
    // only, since Samba leaves the record where the role first was.
    static std::vector<std::string> pdcEmulators(const std::string& dnsDomain);
    // The resolver's search list (the domains tried for a short name), in order.
    static std::vector<std::string> searchList();
    // Whether a host name resolves to an address.
    static bool resolves(const std::string& host);

private:
    static std::vector<std::string> services(const std::string& name);
};

} // namespace ldapdir
