#include "netlogon_ping.h"

// Samba's NDR headers are C: their macros cast the C way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
extern "C" {
#include <talloc.h>
#include <util/data_blob.h>
#include <ndr.h>
#include <gen_ndr/nbt.h>
#include <ndr/ndr_nbt.h>
}
#pragma GCC diagnostic pop

#include "ad_values.h"
#include "connection.h"

namespace ldapdir {

namespace {

enum ndr_err_code pullResponse(struct ndr_pull* ndr, int flags, void* response) {
    // The whole answer decides the version: it is read from the answer's last bytes.
    return ndr_pull_netlogon_samlogon_response(ndr, flags, static_cast<netlogon_samlogon_response*>(response));
}

class TallocScope {
public:
    TallocScope() : m_context(talloc_new(nullptr)) {}
    ~TallocScope() { talloc_free(m_context); }
    TallocScope(const TallocScope&) = delete;
    TallocScope& operator=(const TallocScope&) = delete;
    TALLOC_CTX* get() const noexcept { return m_context; }

private:
    TALLOC_CTX* m_context;
};

} // namespace

std::optional<PingAnswer> decodePingAnswer(std::string_view netlogon) {
    const TallocScope memory;
    if (!memory.get() || netlogon.empty())
        return std::nullopt;
    // The pull only reads the bytes.
    DATA_BLOB blob{reinterpret_cast<std::uint8_t*>(const_cast<char*>(netlogon.data())), netlogon.size()};
    netlogon_samlogon_response response{};
    if (ndr_pull_struct_blob_all(&blob, memory.get(), &response, pullResponse) != NDR_ERR_SUCCESS ||
        (response.ntver & NETLOGON_NT_VERSION_5EX) == 0)
        return std::nullopt;
    const NETLOGON_SAM_LOGON_RESPONSE_EX& ex = response.data.nt5_ex;
    if (ex.command != LOGON_SAM_LOGON_RESPONSE_EX)
        return std::nullopt;
    return PingAnswer{ex.client_site ? ex.client_site : "", ex.server_site ? ex.server_site : "", ex.server_type};
}

std::optional<PingAnswer> ping(Connection& connection) {
    const std::string& domain = connection.domain().dnsDomain;
    if (domain.empty())
        return std::nullopt;
    // NtVer 0x6: NETLOGON_NT_VERSION_5 | NETLOGON_NT_VERSION_5EX, a 32-bit little-endian value.
    const auto root = connection.findOne(
        "", LDAP_SCOPE_BASE, "(&(DnsDomain=" + escapeFilterValue(domain) + ")(NtVer=\\06\\00\\00\\00))", {"Netlogon"});
    const auto netlogon = root ? root->first("Netlogon") : std::nullopt;
    return netlogon ? decodePingAnswer(*netlogon) : std::nullopt;
}

} // namespace ldapdir
