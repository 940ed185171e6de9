#include "samr_pipe_state.h"

#include <algorithm>
#include <cstring>

#include "password_buffer.h"

namespace samrdir {

bool isNoLimit(std::uint64_t expiry) noexcept {
    return expiry == 0 || expiry == kSambaNever || expiry >= 0x7FFFFFFFFFFFFFFFULL;
}

const std::string& SamrPipe::host() const noexcept {
    return m->host;
}

const std::string& SamrPipe::computerName() const noexcept {
    return m->computerName;
}

bool SamrPipe::broken() const noexcept {
    return m->broken;
}

bool SamrPipe::timedOut() const noexcept {
    return m->timedOut;
}

std::optional<Account> SamrPipe::lookup(const std::string& name) {
    if (auto found = m->lookupIn(m->domainHandle, false, name))
        return found;
    return m->lookupIn(m->builtinHandle, true, name);
}

std::optional<std::string> SamrPipe::userName(std::uint32_t rid) {
    Scratch scratch;
    lsa_Strings names{};
    samr_Ids types{};
    samr_LookupRids r{};
    r.in.domain_handle = &m->domainHandle;
    r.in.num_rids = 1;
    r.in.rids = &rid;
    r.out.names = &names;
    r.out.types = &types;
    const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
    if (!NT_STATUS_IS_OK(result) || names.count < 1 || types.count < 1 || types.ids[0] != kSidNameUser)
        return std::nullopt;
    return text(names.names[0]);
}

UserState SamrPipe::queryUser(std::uint32_t rid) {
    UserState state;
    const NTSTATUS result = m->query(m->openUser(rid), state);
    if (!NT_STATUS_IS_OK(result)) {
        m->forgetUser(rid);
        m->refused(result, "ユーザー情報の読み取り");
    }
    return state;
}

std::optional<std::pair<std::uint32_t, UserState>> SamrPipe::queryUserByName(const std::string& name) {
    const std::string key = directory::asciiLower(name);
    if (const auto known = m->userByName.find(key); known != m->userByName.end()) {
        const auto [rid, handle] = known->second;
        UserState state;
        // The handle names a RID: the name still has to be the account's name.
        if (NT_STATUS_IS_OK(m->query(handle, state)) && sameName(name, state.name.c_str()))
            return std::make_pair(rid, std::move(state));
        m->forgetUser(rid);
    }
    const auto account = m->lookupIn(m->domainHandle, false, name);
    if (!account || account->type != AccountType::User)
        return std::nullopt;
    UserState state = queryUser(account->rid);
    m->userByName[key] = {account->rid, m->userHandles.at(account->rid)};
    return std::make_pair(account->rid, std::move(state));
}

void SamrPipe::setUser(std::uint32_t rid, const UserChange& change) {
    if (change.empty())
        return;
    Scratch scratch;
    const std::uint32_t access = (change.flags || change.expiry || change.description ? kUserWriteAccount : 0) |
                                 (change.passwordExpired ? kUserForcePasswordChange : 0);
    State::Closing handle{*m, m->openUser(rid, access)};
    samr_UserInfo info{};
    samr_UserInfo21& i = info.info21;
    if (change.flags) {
        i.fields_present |= SAMR_FIELD_ACCT_FLAGS;
        i.acct_flags = *change.flags;
    }
    if (change.expiry) {
        i.fields_present |= SAMR_FIELD_ACCT_EXPIRY;
        i.acct_expiry = *change.expiry;
    }
    if (change.description) {
        i.fields_present |= SAMR_FIELD_DESCRIPTION;
        i.description.string = change.description->c_str();
    }
    if (change.passwordExpired) {
        i.fields_present |= SAMR_FIELD_EXPIRED_FLAG;
        i.password_expired = *change.passwordExpired ? 1 : 0;
    }
    samr_SetUserInfo2 r{};
    r.in.user_handle = &handle.handle;
    r.in.level = UserAllInformation;
    r.in.info = &info;
    const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.write);
    if (!NT_STATUS_IS_OK(result))
        m->refused(result, "アカウントの変更");
}

void SamrPipe::setPassword(std::uint32_t rid, const directory::Secret& password, bool expired) {
    Scratch scratch;
    State::Closing handle{*m, m->openUser(rid, kUserForcePasswordChange)};
    // Every level tried carries the password and the expired flag together: AES (31) where the
    // server has it, else the confounded RC4 key (26), else RC4 with the session key (24).
    samr_SetUserInfo2 r{};
    r.in.user_handle = &handle.handle;
    NTSTATUS result = NT_STATUS_INVALID_INFO_CLASS;
    for (const samr_UserInfoLevel level :
         {UserInternal7InformationNew, UserInternal5InformationNew, UserInternal5Information}) {
        samr_UserInfo info{};
        AesPassword aes;
        struct Wipe {
            samr_UserInfo& info;
            ~Wipe() { directory::secureZero(&info, sizeof info); }
        } wipe{info};
        if (level == UserInternal7InformationNew) {
            encryptPasswordAes(password.view(), m->connection->sessionKey(), aes);
            std::memcpy(info.info31.password.auth_data, aes.authData, sizeof aes.authData);
            std::memcpy(info.info31.password.salt, aes.salt, sizeof aes.salt);
            info.info31.password.cipher_len = AesPassword::kCipherSize;
            info.info31.password.cipher = aes.cipher;
            info.info31.password_expired = expired ? 1 : 0;
        } else if (level == UserInternal5InformationNew) {
            encryptPasswordEx(password.view(), m->connection->sessionKey(), info.info26.password.data);
            info.info26.password_expired = expired ? 1 : 0;
        } else {
            encryptPassword(password.view(), m->connection->sessionKey(), info.info24.password.data);
            info.info24.password_expired = expired ? 1 : 0;
        }
        r.in.level = level;
        r.in.info = &info;
        result = m->call(&r, scratch.get(), m->timeouts.write);
        // A level the computer does not have: the next one, on the same pipe.
        if (!NT_STATUS_EQUAL(result, NT_STATUS_INVALID_INFO_CLASS) && !isRejectedCall(result))
            break;
    }
    if (!NT_STATUS_IS_OK(result))
        m->refused(result, "パスワードの設定");
}

void SamrPipe::enumerateUsers(const std::function<void(std::uint32_t, const std::string&)>& visit) {
    std::uint32_t resume = 0;
    for (;;) {
        Scratch scratch;
        std::uint32_t count = 0;
        samr_SamArray* users = nullptr;
        samr_EnumDomainUsers r{};
        r.in.domain_handle = &m->domainHandle;
        r.in.acct_flags = kAcbNormal;
        r.in.max_size = 0xFFFF;
        r.in.resume_handle = &resume;
        r.out.resume_handle = &resume;
        r.out.sam = &users;
        r.out.num_entries = &count;
        const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
        const bool more = NT_STATUS_EQUAL(result, STATUS_MORE_ENTRIES);
        if (!NT_STATUS_IS_OK(result) && !more)
            m->refused(result, "ユーザーの一覧");
        for (std::uint32_t i = 0; users && i < users->count; ++i)
            visit(users->entries[i].idx, text(users->entries[i].name));
        if (!more || !users || users->count == 0)
            return;
    }
}

std::vector<Account> SamrPipe::aliases() {
    std::vector<Account> found;
    std::uint32_t resume = 0;
    for (;;) {
        Scratch scratch;
        std::uint32_t count = 0;
        samr_SamArray* aliases = nullptr;
        samr_EnumDomainAliases r{};
        r.in.domain_handle = &m->domainHandle;
        r.in.max_size = 0xFFFF;
        r.in.resume_handle = &resume;
        r.out.resume_handle = &resume;
        r.out.sam = &aliases;
        r.out.num_entries = &count;
        const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
        const bool more = NT_STATUS_EQUAL(result, STATUS_MORE_ENTRIES);
        if (!NT_STATUS_IS_OK(result) && !more)
            m->refused(result, "グループの一覧");
        for (std::uint32_t i = 0; aliases && i < aliases->count; ++i)
            found.push_back({aliases->entries[i].idx, AccountType::Alias, false, text(aliases->entries[i].name)});
        if (!more || !aliases || aliases->count == 0)
            return found;
    }
}

std::vector<Account> SamrPipe::aliasesOf(std::uint32_t userRid) {
    std::vector<Account> found;
    dom_sid sid = m->sidOf(m->domainSid, userRid);
    for (const bool builtin : {false, true}) {
        Scratch scratch;
        lsa_SidPtr pointer{};
        pointer.sid = &sid;
        lsa_SidArray sids{};
        sids.num_sids = 1;
        sids.sids = &pointer;
        samr_Ids rids{};
        samr_GetAliasMembership r{};
        r.in.domain_handle = builtin ? &m->builtinHandle : &m->domainHandle;
        r.in.sids = &sids;
        r.out.rids = &rids;
        NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
        if (!NT_STATUS_IS_OK(result))
            m->refused(result, "グループの一覧");
        if (rids.count == 0)
            continue;
        lsa_Strings names{};
        samr_Ids types{};
        samr_LookupRids l{};
        l.in.domain_handle = r.in.domain_handle;
        l.in.num_rids = rids.count;
        l.in.rids = rids.ids;
        l.out.names = &names;
        l.out.types = &types;
        result = m->call(&l, scratch.get(), m->timeouts.read);
        if (!NT_STATUS_IS_OK(result) && !NT_STATUS_EQUAL(result, STATUS_SOME_UNMAPPED))
            m->refused(result, "グループ名の検索");
        for (std::uint32_t i = 0; i < rids.count && i < names.count; ++i)
            found.push_back({rids.ids[i], AccountType::Alias, builtin, text(names.names[i])});
    }
    return found;
}

std::string SamrPipe::aliasDescription(const Account& alias) {
    Scratch scratch;
    policy_handle handle = m->openAlias(alias, kAliasRead);
    samr_AliasInfo* info = nullptr;
    samr_QueryAliasInfo r{};
    r.in.alias_handle = &handle;
    r.in.level = ALIASINFODESCRIPTION;
    r.out.info = &info;
    const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
    m->close(handle);
    if (!NT_STATUS_IS_OK(result) || !info)
        m->refused(result, "グループ情報の読み取り");
    return text(info->description);
}

void SamrPipe::changeAliasMember(const Account& alias, std::uint32_t memberRid, bool adding) {
    Scratch scratch;
    policy_handle handle = m->openAlias(alias, kAliasWrite);
    dom_sid sid = m->sidOf(m->domainSid, memberRid);
    NTSTATUS result;
    if (adding) {
        samr_AddAliasMember r{};
        r.in.alias_handle = &handle;
        r.in.sid = &sid;
        result = m->call(&r, scratch.get(), m->timeouts.write);
    } else {
        samr_DeleteAliasMember r{};
        r.in.alias_handle = &handle;
        r.in.sid = &sid;
        result = m->call(&r, scratch.get(), m->timeouts.write);
    }
    m->close(handle);
    if (!NT_STATUS_IS_OK(result))
        m->refused(result, adding ? "グループへの追加" : "グループからの削除");
}

bool SamrPipe::aliasHasMember(const Account& alias, std::uint32_t memberRid) {
    Scratch scratch;
    policy_handle handle = m->openAlias(alias, kAliasRead);
    lsa_SidArray sids{};
    samr_GetMembersInAlias r{};
    r.in.alias_handle = &handle;
    r.out.sids = &sids;
    const NTSTATUS result = m->call(&r, scratch.get(), m->timeouts.read);
    m->close(handle);
    if (!NT_STATUS_IS_OK(result))
        m->refused(result, "グループのメンバーの読み取り");
    const dom_sid wanted = m->sidOf(m->domainSid, memberRid);
    for (std::uint32_t i = 0; i < sids.num_sids; ++i) {
        const dom_sid* sid = sids.sids[i].sid;
        if (sid && sid->num_auths == wanted.num_auths && sid->sid_rev_num == wanted.sid_rev_num &&
            std::memcmp(sid->id_auth, wanted.id_auth, sizeof wanted.id_auth) == 0 &&
            std::equal(sid->sub_auths, sid->sub_auths + sid->num_auths, wanted.sub_auths))
            return true;
    }
    return false;
}

} // namespace samrdir
