#pragma once

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ldapdir {

// One address a controller's name resolved to.
struct Address {
    int family = 0;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t length = 0;

    bool operator==(const Address& other) const noexcept;
};

// Every controller's addresses as first found, so that later connections need no name server.
// Hosts are "name", "name:port", an IPv4 address, or an IPv6 one without brackets. A name is
// looked up again only when every address it gave failed to take a connection (the controller may
// have moved), and only by a connect that has the time for one short try of the name server.
class AddressBook {
public:
    // Resolves a name and a port; empty when the name does not resolve or the name server is silent.
    using Resolver = std::function<std::vector<Address>(const std::string& name, const std::string& port)>;

    // resolve: getaddrinfo when not given.
    explicit AddressBook(Resolver resolve = {});

    // The book every connection shares.
    static AddressBook& shared();

    // host's addresses: remembered ones, or looked up now the first time, or again when again is
    // set and they all failed since they were found (asked, when given, tells which).
    std::vector<Address> lookUp(const std::string& host, bool again = false, bool* asked = nullptr);
    // Looks host up now, unless its addresses are known already, with this thread's resolver kept
    // to short tries.
    void remember(const std::string& host);
    // Every address of host failed to take a connection: its name is looked up again at the next
    // connect or lookUp(host, true).
    void markFailed(const std::string& host);

    // A connected, blocking socket to one of host's addresses within limit, tried in turn; -1 when
    // none took the connection, with timedOut set when one of them was still silent at the limit.
    int connect(const std::string& host, std::chrono::milliseconds limit, bool& timedOut);

    // The shortest limit that leaves room for asking the name server again.
    static constexpr std::chrono::milliseconds kRoomToAskAgain{2000};

private:
    struct Known {
        std::vector<Address> addresses;
        bool failed = false;
    };

    Resolver m_resolve;
    std::mutex m_mutex;
    std::map<std::string, Known> m_known; // by "name\nport"
};

} // namespace ldapdir
