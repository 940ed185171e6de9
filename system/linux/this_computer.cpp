#include "this_computer.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>

namespace sysinfo {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool isLoopbackAddress(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    const std::string address(text);
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

} // namespace

bool namesComputer(std::string_view target, const HostIdentity& identity) {
    if (isLoopbackAddress(target))
        return true;
    if (!target.empty() && target.back() == '.')
        target.remove_suffix(1);
    if (target.empty() || equalsNoCase(target, "localhost"))
        return true;
    for (const std::string* name : {&identity.hostName, &identity.shortName, &identity.fullName, &identity.netbiosName})
        if (!name->empty() && equalsNoCase(target, *name))
            return true;
    if (identity.inDomain())
        return !identity.shortName.empty() && equalsNoCase(target, identity.shortName + "." + identity.adDomain);
    return equalsNoCase(target, identity.workgroup);
}

bool namesThisComputer(std::string_view target) {
    return namesComputer(target, readHostIdentity(systemIdentitySources()));
}

} // namespace sysinfo
