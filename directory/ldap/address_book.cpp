#include "address_book.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dc_locator.h"

namespace ldapdir {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Name and port of host: "name", "name:port", an IPv4 address, or an IPv6 one without brackets.
std::pair<std::string, std::string> nameAndPort(const std::string& host) {
    const bool ipv6 = host.find(':') != host.rfind(':');
    const auto colon = ipv6 ? std::string::npos : host.find(':');
    return {host.substr(0, colon), colon == std::string::npos ? "389" : host.substr(colon + 1)};
}

std::string keyOf(const std::string& host) {
    const auto [name, port] = nameAndPort(host);
    return name + '\n' + port;
}

std::vector<Address> systemResolve(const std::string& name, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<Address> addresses;
    if (getaddrinfo(name.c_str(), port.c_str(), &hints, &found) != 0)
        return addresses;
    for (const addrinfo* at = found; at; at = at->ai_next) {
        Address address;
        address.family = at->ai_family;
        address.protocol = at->ai_protocol;
        address.length = static_cast<socklen_t>(std::min<std::size_t>(at->ai_addrlen, sizeof address.address));
        std::memcpy(&address.address, at->ai_addr, address.length);
        addresses.push_back(address);
    }
    freeaddrinfo(found);
    return addresses;
}

// One address after the other, all within one deadline.
int connectInTurn(const std::vector<Address>& addresses, Clock::time_point deadline, bool& timedOut) {
    for (const Address& address : addresses) {
        const int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, address.protocol);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0;
        if (!connected && errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            pollfd watch{fd, POLLOUT, 0};
            const int ready = poll(&watch, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
            int error = 0;
            socklen_t size = sizeof error;
            connected = ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
            timedOut = timedOut || ready == 0;
        }
        // libldap reads and writes as on a blocking socket and keeps its own time limits.
        if (connected && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
            return fd;
        close(fd);
        if (Clock::now() >= deadline)
            break;
    }
    return -1;
}

} // namespace

bool Address::operator==(const Address& other) const noexcept {
    return family == other.family && length == other.length && std::memcmp(&address, &other.address, length) == 0;
}

AddressBook::AddressBook(Resolver resolve) : m_resolve(resolve ? std::move(resolve) : Resolver(systemResolve)) {}

AddressBook& AddressBook::shared() {
    static AddressBook book;
    return book;
}

std::vector<Address> AddressBook::lookUp(const std::string& host, bool again, bool* asked) {
    const std::string key = keyOf(host);
    bool known = false;
    if (asked)
        *asked = false;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_known.find(key); found != m_known.end()) {
            if (!again || !found->second.failed)
                return found->second.addresses;
            known = true;
        }
    }
    const auto [name, port] = nameAndPort(host);
    if (asked)
        *asked = known;
    std::vector<Address> addresses;
    if (known) {
        // One short try: a silent name server costs a second of a limit that has room for it.
        const ShortResolverWaits oneTry(1);
        addresses = m_resolve(name, port);
    } else {
        addresses = m_resolve(name, port);
    }
    const std::lock_guard lock(m_mutex);
    if (known) {
        Known& entry = m_known[key];
        // Asked once; not again until the addresses fail again.
        entry.failed = false;
        if (addresses.empty())
            return entry.addresses;
        entry.addresses = addresses;
    } else if (!addresses.empty()) {
        m_known.emplace(key, Known{addresses, false});
    }
    return addresses;
}

void AddressBook::remember(const std::string& host) {
    const ShortResolverWaits shortWaits;
    lookUp(host);
}

void AddressBook::markFailed(const std::string& host) {
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_known.find(keyOf(host)); found != m_known.end())
        found->second.failed = true;
}

int AddressBook::connect(const std::string& host, milliseconds limit, bool& timedOut) {
    const auto deadline = Clock::now() + limit;
    // The short attempts made while a failure is remembered never wait for a name server.
    const bool mayAskAgain = limit >= kRoomToAskAgain;
    bool askedAgain = false;
    std::vector<Address> addresses = lookUp(host, mayAskAgain, &askedAgain);
    for (;;) {
        const int fd = connectInTurn(addresses, deadline, timedOut);
        if (fd >= 0) {
            // Working again (a controller that restarted): no name server is asked for it.
            const std::lock_guard lock(m_mutex);
            if (const auto found = m_known.find(keyOf(host)); found != m_known.end())
                found->second.failed = false;
            return fd;
        }
        if (addresses.empty())
            return -1;
        markFailed(host);
        if (askedAgain || !mayAskAgain || deadline - Clock::now() < kRoomToAskAgain / 2)
            return -1;
        askedAgain = true;
        std::vector<Address> fresh = lookUp(host, true);
        if (fresh == addresses)
            return -1;
        addresses = std::move(fresh);
    }
}

} // namespace ldapdir
