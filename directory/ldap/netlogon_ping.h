#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ldapdir {

class Connection;

// What a domain controller says of itself and of the client in answer to an LDAP ping (MS-ADTS
// 6.3.3): the site it places the client's address in, its own site and its DS_FLAG bits.
struct PingAnswer {
    std::string clientSite; // empty: the client's address is in no subnet of the forest
    std::string serverSite;
    std::uint32_t flags = 0;

    // DS_WRITABLE_FLAG (MS-ADTS 6.3.1.2): a read-only controller lacks it.
    bool writable() const noexcept { return (flags & 0x100) != 0; }
};

// The Netlogon attribute of a ping's answer, a NETLOGON_SAM_LOGON_RESPONSE_EX, decoded by Samba's
// NDR library. Nothing for anything else, truncated or trailing bytes included.
std::optional<PingAnswer> decodePingAnswer(std::string_view netlogon);

// Pings the controller on connection itself (a root DSE search for Netlogon, filtered by the
// domain's DNS name and the answer version), so that it sees the address the connection comes from.
// Nothing when the controller answers no ping; throws directory::Error as any search does.
std::optional<PingAnswer> ping(Connection& connection);

} // namespace ldapdir
