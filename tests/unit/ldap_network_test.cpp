// The LDAP backend against scripted servers on loopback ports: name servers, and an LDAP server
// that is no domain controller.
#include <arpa/nameser.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <resolv.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "directory/error.h"
#include "directory/ldap/connection.h"
#include "directory/ldap/dc_locator.h"

using namespace std::chrono_literals;

namespace {

// A socket bound to a free loopback port (a stream socket listens: that takes connections).
int loopback(int type, sockaddr_in& at) {
    const int fd = socket(AF_INET, type, 0);
    at = sockaddr_in{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), size), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
    if (type == SOCK_STREAM)
        listen(fd, 4);
    return fd;
}

ldapdir::Address addressOf(const sockaddr_in& at) {
    ldapdir::Address address{AF_INET, 0, {}, sizeof at};
    std::memcpy(&address.address, &at, sizeof at);
    return address;
}

TEST(AddressBook, AsksTheNameServerAgainOnlyWhenEveryAddressFailedAndTheLimitHasRoom) {
    sockaddr_in at{};
    const int listening = loopback(SOCK_STREAM, at);
    const auto good = addressOf(at);
    close(loopback(SOCK_STREAM, at)); // a port that refuses
    const auto moved = addressOf(at);
    struct Row {
        const char* name;
        std::vector<ldapdir::Address> first, later; // what the name server says
        std::chrono::milliseconds limit;
        int asked;
    };
    for (const Row& row : {
             Row{"remembered and working", {good}, {}, 3s, 1},
             Row{"moved: asked again", {moved}, {good}, 3s, 2},
             Row{"moved, a short attempt: no wait for the name server", {moved}, {good}, 500ms, 1},
             Row{"moved, the name server says the same", {moved}, {moved}, 3s, 2},
             Row{"moved, the name server silent", {moved}, {}, 3s, 2},
         }) {
        SCOPED_TRACE(row.name);
        int asked = 0;
        ldapdir::AddressBook book([&](const std::string& name, const std::string& port) {
            EXPECT_EQ(name + ":" + port, "dc1.corp.example:389");
            return ++asked == 1 ? row.first : row.later;
        });
        bool timedOut = false;
        const int fd = book.connect("dc1.corp.example", row.limit, timedOut);
        const auto remembered = asked == 2 && !row.later.empty() ? row.later : row.first;
        EXPECT_EQ(fd >= 0, remembered.front() == good);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(book.lookUp("dc1.corp.example"), remembered);
        if (fd >= 0)
            close(fd);
    }
    // Failed once, then working again on a short attempt: no name server is asked for it later.
    int asked = 0;
    ldapdir::AddressBook book([&](const std::string&, const std::string&) { return ++asked, std::vector{good}; });
    bool timedOut = false;
    close(book.connect("dc1.corp.example", 3s, timedOut));
    book.markFailed("dc1.corp.example");
    close(book.connect("dc1.corp.example", 500ms, timedOut));
    close(book.connect("dc1.corp.example", 3s, timedOut));
    EXPECT_EQ(asked, 1);
    close(listening);
}

TEST(LdapConnection, AnLdapServerThatIsNoDomainControllerIsToldFromItsRootDseBeforeTheBind) {
    sockaddr_in at{};
    const int listening = loopback(SOCK_STREAM, at);
    std::thread server([listening] {
        const int client = accept(listening, nullptr, nullptr);
        char request[512];
        // The root DSE read gets no entry and success (searchResDone, message 1).
        const unsigned char done[] = {0x30, 0x0c, 0x02, 0x01, 0x01, 0x65, 0x07,
                                      0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
        if (recv(client, request, sizeof request, 0) > 0 && send(client, done, sizeof done, MSG_NOSIGNAL) > 0)
            while (recv(client, request, sizeof request, 0) > 0) {
            }
        close(client);
    });
    long number = 0;
    try {
        ldapdir::Connection("127.0.0.1:" + std::to_string(ntohs(at.sin_port)));
    } catch (const directory::Error& error) {
        number = error.number();
    }
    server.join();
    close(listening);
    EXPECT_EQ(number, directory::codes::kNotFound) << "not a Kerberos refusal: no bind is tried";
}

// What the C library leaves of a name server's answer, and what that is taken to mean.
TEST(NameServer, ASearchListDomainWhoseServerSaysItCannotIsANoAndOnlySilenceStopsTheSearch) {
    for (const auto& [name, rcode, silent] : {std::tuple{"SERVFAIL", 2, false}, std::tuple{"REFUSED", 5, false},
                                              std::tuple{"NXDOMAIN", 3, false}, std::tuple{"silent", -1, true}}) {
        SCOPED_TRACE(name);
        struct __res_state state {};
        ASSERT_EQ(res_ninit(&state), 0);
        const int server = loopback(SOCK_DGRAM, state.nsaddr_list[0]);
        std::tie(state.nscount, state.retrans, state.retry) = std::tuple(1, 1, 1);
        std::thread answering([server, rcode = rcode] {
            unsigned char query[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(server, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &length);
            query[2] = 0x81; // a response, recursion wanted
            query[3] = static_cast<unsigned char>(0x80 | rcode);
            if (got >= NS_HFIXEDSZ && rcode >= 0)
                sendto(server, query, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&from), length);
        });
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
