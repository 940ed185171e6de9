#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "answer_lost.h"
#include "directory/secret.h"

namespace samrdir {

// Time limits, as for domain controllers: connect and each read 5 s, writes 30 s. A computer that
// failed gets only the short limit for `remember`, so typing a name does not wait at every key.
struct Timeouts {
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds read{5000};
    std::chrono::milliseconds write{30000};
    std::chrono::milliseconds remember{30000};
    std::chrono::milliseconds retry{500};
};

// acct_flags bits.
inline constexpr std::uint32_t kAcbDisabled = 0x1;
inline constexpr std::uint32_t kAcbNormal = 0x10;
inline constexpr std::uint32_t kAcbPwNoExp = 0x200;
inline constexpr std::uint32_t kAcbAutolock = 0x400;

// Account expiry values (100-ns intervals since 1601 UTC) that mean "no limit": 0, the largest
// value, and Samba's own "never", 2036-02-06.
inline constexpr std::uint64_t kSambaNever = 137303967990000000ULL;
bool isNoLimit(std::uint64_t expiry) noexcept;

// The account state of one user (QueryUserInfo level 21).
struct UserState {
    std::string name;
    std::uint32_t flags = 0;
    std::string description;
    std::uint64_t expiry = 0;
    bool passwordExpired = false;
    // When the password was last set (100-ns intervals since 1601 UTC); 0 while it must change.
    std::uint64_t passwordLastSet = 0;
};

// A state write; absent fields stay as they are.
struct UserChange {
    std::optional<std::uint32_t> flags;
    std::optional<std::uint64_t> expiry;
    std::optional<std::string> description;
    std::optional<bool> passwordExpired;
    bool empty() const noexcept { return !flags && !expiry && !description && !passwordExpired; }
};

enum class AccountType { User, Alias, Other };

// An account of the computer: in its own account domain, or in Builtin (builtin = true).
struct Account {
    std::uint32_t rid = 0;
    AccountType type = AccountType::Other;
    bool builtin = false;
    std::string name;
};

class SamrConnection;

// Opens a connection to host's SAMR pipe within `limit`. Throws directory::Error: refused
// (kLogonFailure), not reached (kServerUnavailable, kTimeout), not encrypted, or without a
// session key.
using SamrConnector =
    std::function<std::unique_ptr<SamrConnection>(const std::string& host, std::chrono::milliseconds limit)>;

// Samba's client libraries: ncacn_np over SMB2/3 with SMB3 encryption, authenticated with the
// user's Kerberos ticket from the default credential cache.
SamrConnector sambaConnector();

// One SAMR pipe to a computer's own account database: ncacn_np over SMB2/3 with SMB3 encryption,
// authenticated with the user's Kerberos ticket from the default credential cache, with the
// computer's account domain and Builtin open. Every call throws directory::Error: a refusal by
// the computer with its own number, a transport failure or time-out as "cannot be reached" (for a
// change that went out, as AnswerLost), after which the pipe is broken() and must be replaced.
// Used from one thread at a time.
class SamrPipe {
public:
    // Connects through `connector` within `limit`; a limit shorter than the connect limit (a
    // computer that failed a moment ago) holds for the whole opening. host: a host name, a NetBIOS
    // name or an address.
    SamrPipe(const std::string& host, std::chrono::milliseconds limit, const Timeouts& timeouts,
             const SamrConnector& connector);
    ~SamrPipe();
    SamrPipe(const SamrPipe&) = delete;
    SamrPipe& operator=(const SamrPipe&) = delete;

    const std::string& host() const noexcept;
    // The computer's NetBIOS name, the name of its account domain.
    const std::string& computerName() const noexcept;
    bool broken() const noexcept;
    // Broken because the computer did not answer in time (rather than dropping the connection).
    bool timedOut() const noexcept;

    // The account of that name, in the account domain first, then Builtin; nothing when neither has it.
    std::optional<Account> lookup(const std::string& name);
    // Name of a user of the account domain, or nothing when there is none.
    std::optional<std::string> userName(std::uint32_t rid);

    // The user's state. The user's handle stays open on the pipe for the next call.
    UserState queryUser(std::uint32_t rid);
    // Condition of a user by name on a handle kept from earlier calls: one round trip when the
    // user was seen before. Nothing when the account domain has no user of that name.
    std::optional<std::pair<std::uint32_t, UserState>> queryUserByName(const std::string& name);
    void setUser(std::uint32_t rid, const UserChange& change);
    // Password and "must change" in one SetUserInfo2 call, at the first level the computer has.
    void setPassword(std::uint32_t rid, const directory::Secret& password, bool expired);

    // After a change went out: what `read` reads on this pipe, or, when the pipe has failed since
    // (the change's answer or its handle's close lost), on a new connection to the same computer.
    // Throws AnswerLost when the computer cannot be asked.
    template <class F> auto readBack(F read) -> decltype(read());

    // The users of the account domain, in the server's order.
    void enumerateUsers(const std::function<void(std::uint32_t rid, const std::string& name)>& visit);

    // The local groups (aliases) of the account domain, in the server's order.
    std::vector<Account> aliases();
    // The local groups (aliases) of both domains that list the user directly.
    std::vector<Account> aliasesOf(std::uint32_t userRid);
    std::string aliasDescription(const Account& alias);
    // memberRid: a user of the account domain.
    void changeAliasMember(const Account& alias, std::uint32_t memberRid, bool adding);
    bool aliasHasMember(const Account& alias, std::uint32_t memberRid);

private:
    void reconnect();

    struct State;
    std::unique_ptr<State> m;
};

template <class F> auto SamrPipe::readBack(F read) -> decltype(read()) {
    if (!broken()) {
        try {
            return read();
        } catch (const directory::Error&) {
            if (!broken())
                throw;
        }
    }
    try {
        reconnect();
        return read();
    } catch (const directory::Error&) {
        throw AnswerLost(host());
    }
}

} // namespace samrdir
