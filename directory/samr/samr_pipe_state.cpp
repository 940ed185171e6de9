#include "samr_pipe_state.h"

#include <strings.h>

#include <algorithm>

#include "samr_failure.h"

namespace samrdir {

std::string text(const lsa_String& s) {
    return s.string ? std::string(s.string) : std::string();
}

bool sameName(const std::string& a, const char* b) {
    return b && strcasecmp(a.c_str(), b) == 0;
}

void SamrPipe::State::unreachable(NTSTATUS status) {
    broken = true;
    timedOut = NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT);
    throw samrdir::unreachable(host, status);
}

void SamrPipe::State::refused(NTSTATUS status, const std::string& what) {
    using namespace directory::codes;
    if (NT_STATUS_EQUAL(status, NT_STATUS_ACCESS_DENIED))
        throw directory::Error(kAccessDenied,
                               "コンピューター " + host + " が" + what + "を拒否しました (アクセス拒否)。");
    if (NT_STATUS_EQUAL(status, NT_STATUS_NO_SUCH_USER) || NT_STATUS_EQUAL(status, NT_STATUS_NONE_MAPPED))
        throw directory::Error(kNoSuchUser, what + ": そのアカウントは " + host + " にありません。");
    if (NT_STATUS_EQUAL(status, NT_STATUS_NO_SUCH_ALIAS))
        throw directory::Error(kNoSuchGroup, what + ": そのグループは " + host + " にありません。");
    if (NT_STATUS_EQUAL(status, NT_STATUS_MEMBER_IN_ALIAS))
        throw directory::Error(kMemberInGroup, what + ": すでにグループのメンバーです。");
    if (NT_STATUS_EQUAL(status, NT_STATUS_MEMBER_NOT_IN_ALIAS))
        throw directory::Error(kMemberNotInGroup, what + ": グループのメンバーではありません。");
    if (NT_STATUS_EQUAL(status, NT_STATUS_PASSWORD_RESTRICTION))
        throw directory::Error(kPasswordPolicy,
                               "コンピューター " + host + " のパスワードの規則に合いません (長さ、複雑さ、履歴)。");
    // Numbered as the platform's provider numbers NT status codes (HRESULT_FROM_NT).
    throw directory::Error(static_cast<long>(NT_STATUS_V(status) | 0x10000000U),
                           "コンピューター " + host + " が" + what + "を拒否しました (" + statusText(status) + ")。");
}

void SamrPipe::State::close(policy_handle handle) {
    Scratch scratch;
    samr_Close r{};
    r.in.handle = &handle;
    r.out.handle = &handle;
    call(&r, scratch.get(), timeouts.read);
}

dom_sid SamrPipe::State::sidOf(const dom_sid& domain, std::uint32_t rid) const {
    dom_sid sid = domain;
    if (sid.num_auths >= 15)
        throw directory::Error(directory::codes::kFail, "SID が長すぎます。");
    sid.sub_auths[sid.num_auths++] = rid;
    return sid;
}

policy_handle SamrPipe::State::openUser(std::uint32_t rid) {
    if (const auto found = userHandles.find(rid); found != userHandles.end())
        return found->second;
    const policy_handle handle = openUser(rid, kUserRead);
    if (userHandles.size() >= 64)
        forgetUsers();
    userHandles[rid] = handle;
    return handle;
}

policy_handle SamrPipe::State::openUser(std::uint32_t rid, std::uint32_t access) {
    Scratch scratch;
    policy_handle handle{};
    samr_OpenUser r{};
    r.in.domain_handle = &domainHandle;
    r.in.access_mask = access;
    r.in.rid = rid;
    r.out.user_handle = &handle;
    const NTSTATUS result = call(&r, scratch.get(), timeouts.read);
    if (!NT_STATUS_IS_OK(result))
        refused(result, access == kUserRead ? "ユーザーの読み取り" : "ユーザーの変更");
    return handle;
}

void SamrPipe::State::forgetUsers() {
    for (auto& [rid, handle] : userHandles) {
        try {
            close(handle);
        } catch (const directory::Error&) {
            break;
        }
    }
    userHandles.clear();
    userByName.clear();
}

void SamrPipe::State::forgetUser(std::uint32_t rid) {
    std::erase_if(userByName, [rid](const auto& entry) { return entry.second.first == rid; });
    if (const auto found = userHandles.find(rid); found != userHandles.end()) {
        const policy_handle handle = found->second;
        userHandles.erase(found);
        close(handle);
    }
}

NTSTATUS SamrPipe::State::query(policy_handle handle, UserState& state) {
    Scratch scratch;
    samr_UserInfo* info = nullptr;
    samr_QueryUserInfo r{};
    r.in.user_handle = &handle;
    r.in.level = UserAllInformation;
    r.out.info = &info;
    const NTSTATUS result = call(&r, scratch.get(), timeouts.read);
    if (NT_STATUS_IS_OK(result) && info) {
        const samr_UserInfo21& i = info->info21;
        state.name = text(i.account_name);
        state.flags = i.acct_flags;
        state.description = text(i.description);
        state.expiry = i.acct_expiry;
        state.passwordExpired = i.password_expired != 0;
        state.passwordLastSet = i.last_password_change;
    }
    return result;
}

std::optional<Account> SamrPipe::State::lookupIn(policy_handle& domain, bool builtin, const std::string& name) {
    Scratch scratch;
    lsa_String names{};
    names.string = name.c_str();
    samr_Ids rids{};
    samr_Ids types{};
    samr_LookupNames r{};
    r.in.domain_handle = &domain;
    r.in.num_names = 1;
    r.in.names = &names;
    r.out.rids = &rids;
    r.out.types = &types;
    const NTSTATUS result = call(&r, scratch.get(), timeouts.read);
    if (NT_STATUS_EQUAL(result, NT_STATUS_NONE_MAPPED))
        return std::nullopt;
    if (!NT_STATUS_IS_OK(result))
        refused(result, "名前の検索");
    if (rids.count < 1 || types.count < 1)
        return std::nullopt;
    Account account;
    account.rid = rids.ids[0];
    account.type = types.ids[0] == kSidNameUser    ? AccountType::User
                   : types.ids[0] == kSidNameAlias ? AccountType::Alias
                                                   : AccountType::Other;
    account.builtin = builtin;
    account.name = name;
    return account;
}

policy_handle SamrPipe::State::openAlias(const Account& alias, std::uint32_t access) {
    Scratch scratch;
    policy_handle handle{};
    samr_OpenAlias r{};
    r.in.domain_handle = alias.builtin ? &builtinHandle : &domainHandle;
    r.in.access_mask = access;
    r.in.rid = alias.rid;
    r.out.alias_handle = &handle;
    const NTSTATUS result = call(&r, scratch.get(), timeouts.read);
    if (!NT_STATUS_IS_OK(result))
        refused(result, access == kAliasRead ? "グループの読み取り" : "グループの変更");
    return handle;
}

SamrPipe::State::Closing::~Closing() {
    if (!state.broken) {
        try {
            state.close(handle);
        } catch (const directory::Error&) {
            // The handle dies with the pipe, which the failure has broken.
        }
    }
}

} // namespace samrdir
