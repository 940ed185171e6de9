#pragma once

#include "samba_rpc.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "samr_pipe.h"

namespace samrdir {

// The arguments of one generated SAMR call, in and out.
using SamrCall =
    std::variant<samr_Connect2*, samr_EnumDomains*, samr_LookupDomain*, samr_OpenDomain*, samr_LookupNames*,
                 samr_LookupRids*, samr_OpenUser*, samr_QueryUserInfo*, samr_SetUserInfo2*, samr_Close*,
                 samr_EnumDomainUsers*, samr_EnumDomainAliases*, samr_GetAliasMembership*, samr_OpenAlias*,
                 samr_QueryAliasInfo*, samr_AddAliasMember*, samr_DeleteAliasMember*, samr_GetMembersInAlias*>;

// One connection to a computer's SAMR pipe: the seam between the pipe's own logic and the
// generated client calls, so that what a computer answers can be scripted.
class SamrConnection {
public:
    virtual ~SamrConnection() = default;

    // Makes one call and waits at most `limit` for its answer; `mem` holds what the answer
    // allocates. NT_STATUS_OK when the computer answered, with its own verdict in out.result;
    // otherwise a fault it sent instead of an answer (e.g. NT_STATUS_RPC_BAD_STUB_DATA),
    // NT_STATUS_IO_TIMEOUT when no answer came in time, or the failure of the transport.
    virtual NTSTATUS call(SamrCall call, TALLOC_CTX* mem, std::chrono::milliseconds limit) = 0;

    // The session key that encrypts the password levels.
    virtual std::span<const std::uint8_t> sessionKey() const noexcept = 0;
};

} // namespace samrdir
