#pragma once

// What the SAMR pipe's source files share: the connection's state, its open handles and the one
// way every generated call is made.

#include "directory/ascii.h"
#include "samba_rpc.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "answer_lost.h"
#include "directory/error.h"
#include "samr_connection.h"
#include "samr_failure.h"
#include "samr_pipe.h"

namespace samrdir {

inline constexpr std::uint32_t kMaximumAllowed = 0x02000000; // SEC_FLAG_MAXIMUM_ALLOWED
// Users and groups are opened for what one use needs, never for the most the server allows:
// Samba lets a maximum-allowed handle of a plain domain user change a local account's
// description, which a handle asked for the right to set attributes is refused.
inline constexpr std::uint32_t kUserRead = SAMR_USER_ACCESS_GET_NAME_ETC | SAMR_USER_ACCESS_GET_LOCALE |
                                           SAMR_USER_ACCESS_GET_LOGONINFO | SAMR_USER_ACCESS_GET_ATTRIBUTES;
// MS-SAMR 3.1.5.6.4.2: the account control, its expiry and the admin comment need USER_WRITE_ACCOUNT
// (SET_ATTRIBUTES); the password and "must change at next logon" need USER_FORCE_PASSWORD_CHANGE
// (SET_PASSWORD), which Windows checks and Samba skips for a caller mapped to root.
inline constexpr std::uint32_t kUserWriteAccount = SAMR_USER_ACCESS_SET_ATTRIBUTES;
inline constexpr std::uint32_t kUserForcePasswordChange = SAMR_USER_ACCESS_SET_PASSWORD;
inline constexpr std::uint32_t kAliasRead = SAMR_ALIAS_ACCESS_LOOKUP_INFO | SAMR_ALIAS_ACCESS_GET_MEMBERS;
inline constexpr std::uint32_t kAliasWrite = SAMR_ALIAS_ACCESS_ADD_MEMBER | SAMR_ALIAS_ACCESS_REMOVE_MEMBER;
inline constexpr std::uint32_t kSidNameUser = 1;
inline constexpr std::uint32_t kSidNameAlias = 4;

std::string text(const lsa_String& s);
bool sameName(const std::string& a, const char* b);

// One talloc allocation for the length of a call.
class Scratch {
public:
    Scratch() : m_ctx(talloc_new(nullptr)) {
        if (!m_ctx)
            throw std::bad_alloc();
    }
    ~Scratch() { talloc_free(m_ctx); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    TALLOC_CTX* get() const noexcept { return m_ctx; }

private:
    TALLOC_CTX* m_ctx;
};

struct SamrPipe::State {
    std::string host;
    std::string computerName;
    Timeouts timeouts;
    bool broken = false;
    bool timedOut = false;
    SamrConnector connector;
    std::unique_ptr<SamrConnection> connection;
    std::optional<std::chrono::steady_clock::time_point> openBy;
    policy_handle connectHandle{};
    policy_handle domainHandle{};
    policy_handle builtinHandle{};
    dom_sid domainSid{};
    dom_sid builtinSid{};
    // Users whose handle stays open, by name in lower case: a lookup of a user seen before is one
    // round trip.
    std::map<std::string, std::pair<std::uint32_t, policy_handle>> userByName;
    std::map<std::uint32_t, policy_handle> userHandles;

    [[noreturn]] void unreachable(NTSTATUS status);
    // A refusal by the computer, with its own number and a Japanese description.
    [[noreturn]] void refused(NTSTATUS status, const std::string& what);

    // One call with a time limit: the call's own result, for the caller to judge. A fault the
    // computer sent for a call it could not take stands for that result. Any other failure breaks
    // the pipe; for a change, which may have landed with only its answer lost, as AnswerLost.
    template <class R> NTSTATUS call(R* r, TALLOC_CTX* scratch, std::chrono::milliseconds limit) {
        if (broken)
            throw directory::Error(directory::codes::kServerUnavailable,
                                   "コンピューター " + host + " との接続が切れました。");
        const NTSTATUS status = connection->call(r, scratch, limit);
        if (NT_STATUS_IS_OK(status))
            return r->out.result;
        if (isRejectedCall(status))
            return status;
        if constexpr (std::is_same_v<R, samr_SetUserInfo2> || std::is_same_v<R, samr_AddAliasMember> ||
                      std::is_same_v<R, samr_DeleteAliasMember>) {
            broken = true;
            timedOut = NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT);
            throw AnswerLost(host);
        }
        unreachable(status);
    }

    void close(policy_handle handle);
    dom_sid sidOf(const dom_sid& domain, std::uint32_t rid) const;
    // A handle to read the user, kept open for later reads.
    policy_handle openUser(std::uint32_t rid);
    policy_handle openUser(std::uint32_t rid, std::uint32_t access);
    void forgetUsers();
    void forgetUser(std::uint32_t rid);
    // QueryUserInfo level 21 on an open handle: the call's own result, and the state when it is OK.
    NTSTATUS query(policy_handle handle, UserState& state);
    std::optional<Account> lookupIn(policy_handle& domain, bool builtin, const std::string& name);
    policy_handle openAlias(const Account& alias, std::uint32_t access);

    // Closes a handle opened for one write when the write is done.
    struct Closing {
        State& state;
        policy_handle handle;
        Closing(State& owner, policy_handle opened) : state(owner), handle(opened) {}
        Closing(const Closing&) = delete;
        Closing& operator=(const Closing&) = delete;
        ~Closing();
    };

    // Connects and opens the account domain and Builtin. A computer that failed a moment ago (a
    // limit shorter than the connect limit) gets `limit` for the whole opening, not for each step.
    static std::unique_ptr<State> open(const std::string& host, std::chrono::milliseconds limit,
                                       const Timeouts& timeouts, const SamrConnector& connector);
    void openDomains();
    // The wait for one call of the opening.
    std::chrono::milliseconds openingLimit() const;
};

} // namespace samrdir
