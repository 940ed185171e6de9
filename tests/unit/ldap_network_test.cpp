// The LDAP backend against scripted servers: remembered addresses, what a name server's answers
// mean, and what an LDAP server that is no domain controller says.
#include <arpa/nameser.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "directory/error.h"
#include "directory/ldap/address_book.h"
#include "directory/ldap/connection.h"
#include "directory/ldap/dc_locator.h"

using namespace std::chrono_literals;

namespace {

ldapdir::Address loopback(in_port_t port) {
    ldapdir::Address address;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.family = AF_INET;
    address.length = sizeof in;
    std::memcpy(&address.address, &in, sizeof in);
    return address;
}

// A loopback port that takes connections (listening is enough), or, closed, refuses them.
in_port_t loopbackPort(bool listening, int& fd) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof in;
    if (bind(fd, reinterpret_cast<sockaddr*>(&in), size) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&in), &size) != 0)
        ADD_FAILURE() << "no loopback port";
    if (!listening)
        close(fd);
    return ntohs(in.sin_port);
}

TEST(AddressBook, AsksTheNameServerAgainOnlyWhenEveryAddressFailedAndTheLimitHasRoom) {
    int open = -1, closed = -1;
    const auto good = loopback(loopbackPort(true, open)), moved = loopback(loopbackPort(false, closed));
    struct Row {
        const char* name;
        std::vector<ldapdir::Address> first, later; // what the name server says
        std::chrono::milliseconds limit;
        bool connects;
        int asked;
    };
    for (const Row& row : {
             Row{"remembered and working", {good}, {}, 3s, true, 1},
             Row{"moved: asked again", {moved}, {good}, 3s, true, 2},
             Row{"moved, a short attempt: no wait for the name server", {moved}, {good}, 500ms, false, 1},
             Row{"moved, the name server says the same", {moved}, {moved}, 3s, false, 2},
             Row{"moved, the name server silent", {moved}, {}, 3s, false, 2},
         }) {
        SCOPED_TRACE(row.name);
        int asked = 0;
        ldapdir::AddressBook book([&](const std::string& name, const std::string& port) {
            EXPECT_EQ(name + ":" + port, "dc1.corp.example:389");
            return ++asked == 1 ? row.first : row.later;
        });
        bool timedOut = false;
        const int fd = book.connect("dc1.corp.example", row.limit, timedOut);
        EXPECT_EQ(fd >= 0, row.connects);
        EXPECT_EQ(asked, row.asked);
        EXPECT_FALSE(timedOut);
        if (fd >= 0)
            close(fd);
        // What the second look-up found is what is remembered.
        EXPECT_EQ(book.lookUp("dc1.corp.example"), asked == 1 || row.later.empty() ? row.first : row.later);
    }
    close(open);
}

TEST(LdapConnection, AnLdapServerThatIsNoDomainControllerIsToldFromItsRootDseBeforeTheBind) {
    int listener = -1;
    const in_port_t port = loopbackPort(true, listener);
    std::thread server([listener] {
        const int client = accept(listener, nullptr, nullptr);
        char request[512];
        if (recv(client, request, sizeof request, 0) > 0) { // the root DSE read
            // No entry, and success: searchResDone for message 1.
            const unsigned char done[] = {0x30, 0x0c, 0x02, 0x01, 0x01, 0x65, 0x07,
                                          0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
            send(client, done, sizeof done, MSG_NOSIGNAL);
            while (recv(client, request, sizeof request, 0) > 0) {
            }
        }
        close(client);
    });
    long number = 0;
    try {
        ldapdir::Connection("127.0.0.1:" + std::to_string(port));
    } catch (const directory::Error& error) {
        number = error.number();
    }
    server.join();
    close(listener);
    EXPECT_EQ(number, directory::codes::kNotFound) << "not a Kerberos refusal: no bind is tried";
}

// A name server on a loopback port that answers every query with rcode, or with nothing (-1).
TEST(NameServer, ASearchListDomainWhoseServerSaysItCannotIsANoAndOnlySilenceStopsTheSearch) {
    for (const auto& [name, rcode, silent] : {std::tuple{"SERVFAIL", 2, false}, std::tuple{"REFUSED", 5, false},
                                              std::tuple{"NXDOMAIN", 3, false}, std::tuple{"silent", -1, true}}) {
        SCOPED_TRACE(name);
        const int server = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&at), size), 0);
        getsockname(server, reinterpret_cast<sockaddr*>(&at), &size);
        std::thread answering([server, rcode = rcode] {
            unsigned char query[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(server, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (got >= NS_HFIXEDSZ && rcode >= 0) {
                query[2] = 0x81; // a response to the query, recursion wanted
                query[3] = static_cast<unsigned char>(0x80 | rcode);
                sendto(server, query, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&from), length);
            }
        });
        struct __res_state state {};
        ASSERT_EQ(res_ninit(&state), 0);
        state.nscount = 1;
        state.nsaddr_list[0] = at;
        state.retrans = 1;
        state.retry = 1;
        std::vector<unsigned char> answer(NS_PACKETSZ);
        EXPECT_LT(res_nquery(&state, "_ldap._tcp.dc._msdcs.broken.example", ns_c_in, ns_t_srv, answer.data(),
                             static_cast<int>(answer.size())),
                  0);
        EXPECT_EQ(ldapdir::DcLocator::silentNameServer(state.res_h_errno, answer.data(), answer.size()), silent);
        res_nclose(&state);
        shutdown(server, SHUT_RDWR);
        answering.join();
        close(server);
    }
}

} // namespace
