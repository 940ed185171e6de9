#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

namespace ldapdir {

// One address a controller's name resolved to.
struct Address {
    int family = 0;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
};

// Every controller's addresses as first found, for the process's life, so that later connections
// need no name server.
class AddressBook {
public:
    // host's addresses ("name", "name:port", an IPv4 address, or an IPv6 one without brackets),
    // looked up the first time only. Empty when the name does not resolve.
    static std::vector<Address> lookUp(const std::string& host);
    // Looks host up now, unless its addresses are known already, with this thread's resolver kept
    // to short tries.
    static void remember(const std::string& host);
};

} // namespace ldapdir
