#include "address_book.h"

#include <netdb.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "dc_locator.h"

namespace ldapdir {

namespace {

// Every controller's addresses as first found, by "name\nport".
std::mutex addressBookMutex;

// Name and port of host: "name", "name:port", an IPv4 address, or an IPv6 one without brackets.
std::pair<std::string, std::string> nameAndPort(const std::string& host) {
    const bool ipv6 = host.find(':') != host.rfind(':');
    const auto colon = ipv6 ? std::string::npos : host.find(':');
    return {host.substr(0, colon), colon == std::string::npos ? "389" : host.substr(colon + 1)};
}

} // namespace

std::vector<Address> AddressBook::lookUp(const std::string& host) {
    static std::map<std::string, std::vector<Address>> book;
    const auto [name, port] = nameAndPort(host);
    const std::string key = name + '\n' + port;
    {
        const std::lock_guard lock(addressBookMutex);
        if (const auto found = book.find(key); found != book.end())
            return found->second;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<Address> addresses;
    if (getaddrinfo(name.c_str(), port.c_str(), &hints, &found) == 0) {
        for (const addrinfo* at = found; at; at = at->ai_next) {
            Address address;
            address.family = at->ai_family;
            address.protocol = at->ai_protocol;
            address.length = static_cast<socklen_t>(std::min<std::size_t>(at->ai_addrlen, sizeof address.address));
            std::memcpy(&address.address, at->ai_addr, address.length);
            addresses.push_back(address);
        }
        freeaddrinfo(found);
    }
    if (!addresses.empty()) {
        const std::lock_guard lock(addressBookMutex);
        book.emplace(key, addresses);
    }
    return addresses;
}

void AddressBook::remember(const std::string& host) {
    const ShortResolverWaits shortWaits;
    lookUp(host);
}

} // namespace ldapdir
