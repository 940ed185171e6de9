#include "samr_pipe.h"

// Samba's headers are C; their macros cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

// credentials.h declares these enums only by name, which C++ does not allow; the values are those
// of libcli/smb/smb_constants.h, which is not installed.
enum smb_signing_setting {
    SMB_SIGNING_IPC_DEFAULT = -2,
    SMB_SIGNING_DEFAULT = -1,
    SMB_SIGNING_OFF = 0,
    SMB_SIGNING_IF_REQUIRED = 1,
    SMB_SIGNING_DESIRED = 2,
    SMB_SIGNING_REQUIRED = 3,
};
enum smb_encryption_setting {
    SMB_ENCRYPTION_DEFAULT = -1,
    SMB_ENCRYPTION_OFF = 0,
    SMB_ENCRYPTION_IF_REQUIRED = 1,
    SMB_ENCRYPTION_DESIRED = 2,
    SMB_ENCRYPTION_REQUIRED = 3,
};

extern "C" {
#include <talloc.h>
#include <tevent.h>
#include <util/data_blob.h>
#include <core/ntstatus.h>
#include <credentials.h>
#include <param.h>
#include <dcerpc.h>
#include <gen_ndr/ndr_samr_c.h>
}

#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "directory/error.h"
#include "directory/sigpipe_guard.h"
#include "password_buffer.h"

namespace samrdir {

bool isNoLimit(std::uint64_t expiry) noexcept {
    return expiry == 0 || expiry == kSambaNever || expiry >= 0x7FFFFFFFFFFFFFFFULL;
}

namespace {

constexpr std::uint32_t kMaximumAllowed = 0x02000000; // SEC_FLAG_MAXIMUM_ALLOWED
// Users and groups are opened for what one use needs, never for the most the server allows:
// Samba lets a maximum-allowed handle of a plain domain user change a local account's
// description, which a handle asked for the right to set attributes is refused.
constexpr std::uint32_t kUserRead = SAMR_USER_ACCESS_GET_NAME_ETC | SAMR_USER_ACCESS_GET_LOCALE |
                                    SAMR_USER_ACCESS_GET_LOGONINFO | SAMR_USER_ACCESS_GET_ATTRIBUTES;
constexpr std::uint32_t kUserWrite = SAMR_USER_ACCESS_SET_ATTRIBUTES | SAMR_USER_ACCESS_SET_LOC_COM;
constexpr std::uint32_t kUserPassword = SAMR_USER_ACCESS_SET_PASSWORD | SAMR_USER_ACCESS_SET_ATTRIBUTES;
constexpr std::uint32_t kAliasRead = SAMR_ALIAS_ACCESS_LOOKUP_INFO | SAMR_ALIAS_ACCESS_GET_MEMBERS;
constexpr std::uint32_t kAliasWrite = SAMR_ALIAS_ACCESS_ADD_MEMBER | SAMR_ALIAS_ACCESS_REMOVE_MEMBER;
constexpr std::uint32_t kSidNameUser = 1;
constexpr std::uint32_t kSidNameAlias = 4;

// The head of libcli's composite_context, the handle of the connect call: its state, which
// reaches 2 (done) or 3 (error) when the call has finished. The connect call offers no time
// limit of its own, so the caller runs the event loop and watches this.
struct CompositeHead {
    int state;
};
constexpr int kCompositeDone = 2;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string text(const lsa_String& s) {
    return s.string ? std::string(s.string) : std::string();
}

bool sameName(const std::string& a, const char* b) {
    return b && strcasecmp(a.c_str(), b) == 0;
}

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

// Debian ships the generated SAMR client calls in Samba's private libdcerpc-samba, which the
// public libdcerpc loads but no public library exports; they are taken from the process by
// name, with the types of the public header.
template <class F> F generated(const char* name) {
    void* symbol = dlsym(RTLD_DEFAULT, name);
    if (!symbol)
        throw directory::Error(directory::codes::kFail,
                               std::string("Samba の SAMR クライアント関数 ") + name + " が見つかりません。");
    return reinterpret_cast<F>(symbol);
}
#define SAMR(name)                                                                                                     \
    ([] {                                                                                                              \
        static const auto call = generated<decltype(&name)>(#name);                                                    \
        return call;                                                                                                   \
    }())

void wakeUp(tevent_context*, tevent_timer*, timeval, void*) {}

// The NTSTATUS number as Windows documents it, e.g. 0xC0000022.
std::string statusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(NT_STATUS_V(status)));
    return text;
}

bool isRefusal(NTSTATUS status) {
    return NT_STATUS_EQUAL(status, NT_STATUS_ACCESS_DENIED) || NT_STATUS_EQUAL(status, NT_STATUS_LOGON_FAILURE) ||
           NT_STATUS_EQUAL(status, NT_STATUS_WRONG_PASSWORD) || NT_STATUS_EQUAL(status, NT_STATUS_NO_SUCH_USER) ||
           NT_STATUS_EQUAL(status, NT_STATUS_ACCOUNT_DISABLED) ||
           NT_STATUS_EQUAL(status, NT_STATUS_TRUSTED_RELATIONSHIP_FAILURE) ||
           NT_STATUS_EQUAL(status, NT_STATUS_INVALID_ACCOUNT_NAME) ||
           NT_STATUS_EQUAL(status, NT_STATUS_NETWORK_ACCESS_DENIED);
}

} // namespace

struct SamrPipe::State {
    std::string host;
    std::string computerName;
    Timeouts timeouts;
    bool broken = false;
    bool timedOut = false;
    TALLOC_CTX* mem = nullptr;
    tevent_context* ev = nullptr;
    dcerpc_pipe* pipe = nullptr;
    policy_handle connectHandle{};
    policy_handle domainHandle{};
    policy_handle builtinHandle{};
    dom_sid domainSid{};
    dom_sid builtinSid{};
    std::vector<std::uint8_t> sessionKey;
    // Users whose handle stays open, by name in lower case: a lookup of a user seen before is one
    // round trip.
    std::map<std::string, std::pair<std::uint32_t, policy_handle>> userByName;
    std::map<std::uint32_t, policy_handle> userHandles;

    ~State() {
        directory::secureZero(sessionKey.data(), sessionKey.size());
        const directory::SigpipeGuard quiet; // closing may still write to a dropped connection
        talloc_free(mem);
    }

    [[noreturn]] void unreachable(NTSTATUS status) {
        broken = true;
        timedOut = NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT);
        if (timedOut)
            throw directory::Error(directory::codes::kTimeout, "コンピューター " + host + " が応答しません。");
        throw directory::Error(directory::codes::kServerUnavailable,
                               "コンピューター " + host + " に接続できません (" + statusText(status) + ")。");
    }

    // A refusal by the computer, with its own number and a Japanese description.
    [[noreturn]] void refused(NTSTATUS status, const std::string& what) {
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
        throw directory::Error(static_cast<long>(NT_STATUS_V(status) | 0x10000000U), "コンピューター " + host + " が" +
                                                                                         what + "を拒否しました (" +
                                                                                         statusText(status) + ")。");
    }

    // One generated call with a time limit. A transport failure breaks the pipe; the call's own
    // result is returned for the caller to judge.
    template <class R>
    NTSTATUS call(tevent_req* (*send)(TALLOC_CTX*, tevent_context*, dcerpc_binding_handle*, R*),
                  NTSTATUS (*recv)(tevent_req*, TALLOC_CTX*), R* r, TALLOC_CTX* scratch,
                  std::chrono::milliseconds limit) {
        if (broken)
            throw directory::Error(directory::codes::kServerUnavailable,
                                   "コンピューター " + host + " との接続が切れました。");
        const directory::SigpipeGuard quiet;
        tevent_req* request = send(scratch, ev, pipe->binding_handle, r);
        if (!request)
            throw std::bad_alloc();
        const auto ms = limit.count();
        tevent_req_set_endtime(request, ev, tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000));
        NTSTATUS status = NT_STATUS_INTERNAL_ERROR;
        if (tevent_req_poll(request, ev))
            status = recv(request, scratch);
        else
            status = NT_STATUS_IO_TIMEOUT;
        talloc_free(request);
        if (!NT_STATUS_IS_OK(status))
            unreachable(status);
        return r->out.result;
    }

    void close(policy_handle handle) {
        Scratch scratch;
        samr_Close r{};
        r.in.handle = &handle;
        r.out.handle = &handle;
        call(SAMR(dcerpc_samr_Close_r_send), SAMR(dcerpc_samr_Close_r_recv), &r, scratch.get(), timeouts.read);
    }

    dom_sid sidOf(const dom_sid& domain, std::uint32_t rid) const {
        dom_sid sid = domain;
        if (sid.num_auths >= 15)
            throw directory::Error(directory::codes::kFail, "SID が長すぎます。");
        sid.sub_auths[sid.num_auths++] = rid;
        return sid;
    }

    // A handle to read the user, kept open for later reads.
    policy_handle openUser(std::uint32_t rid) {
        if (const auto found = userHandles.find(rid); found != userHandles.end())
            return found->second;
        const policy_handle handle = openUser(rid, kUserRead);
        if (userHandles.size() >= 64)
            forgetUsers();
        userHandles[rid] = handle;
        return handle;
    }

    policy_handle openUser(std::uint32_t rid, std::uint32_t access) {
        Scratch scratch;
        policy_handle handle{};
        samr_OpenUser r{};
        r.in.domain_handle = &domainHandle;
        r.in.access_mask = access;
        r.in.rid = rid;
        r.out.user_handle = &handle;
        const NTSTATUS result = call(SAMR(dcerpc_samr_OpenUser_r_send), SAMR(dcerpc_samr_OpenUser_r_recv), &r,
                                     scratch.get(), timeouts.read);
        if (!NT_STATUS_IS_OK(result))
            refused(result, access == kUserRead ? "ユーザーの読み取り" : "ユーザーの変更");
        return handle;
    }

    void forgetUsers() {
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

    void forgetUser(std::uint32_t rid) {
        std::erase_if(userByName, [rid](const auto& entry) { return entry.second.first == rid; });
        if (const auto found = userHandles.find(rid); found != userHandles.end()) {
            const policy_handle handle = found->second;
            userHandles.erase(found);
            close(handle);
        }
    }

    // QueryUserInfo level 21 on an open handle: the call's own result, and the state when it is OK.
    NTSTATUS query(policy_handle handle, UserState& state) {
        Scratch scratch;
        samr_UserInfo* info = nullptr;
        samr_QueryUserInfo r{};
        r.in.user_handle = &handle;
        r.in.level = UserAllInformation;
        r.out.info = &info;
        const NTSTATUS result = call(SAMR(dcerpc_samr_QueryUserInfo_r_send), SAMR(dcerpc_samr_QueryUserInfo_r_recv), &r,
                                     scratch.get(), timeouts.read);
        if (NT_STATUS_IS_OK(result) && info) {
            const samr_UserInfo21& i = info->info21;
            state.name = text(i.account_name);
            state.flags = i.acct_flags;
            state.description = text(i.description);
            state.expiry = i.acct_expiry;
            state.passwordExpired = i.password_expired != 0;
        }
        return result;
    }

    std::optional<Account> lookupIn(policy_handle& domain, bool builtin, const std::string& name) {
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
        const NTSTATUS result = call(SAMR(dcerpc_samr_LookupNames_r_send), SAMR(dcerpc_samr_LookupNames_r_recv), &r,
                                     scratch.get(), timeouts.read);
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

    policy_handle openAlias(const Account& alias, std::uint32_t access) {
        Scratch scratch;
        policy_handle handle{};
        samr_OpenAlias r{};
        r.in.domain_handle = alias.builtin ? &builtinHandle : &domainHandle;
        r.in.access_mask = access;
        r.in.rid = alias.rid;
        r.out.alias_handle = &handle;
        const NTSTATUS result = call(SAMR(dcerpc_samr_OpenAlias_r_send), SAMR(dcerpc_samr_OpenAlias_r_recv), &r,
                                     scratch.get(), timeouts.read);
        if (!NT_STATUS_IS_OK(result))
            refused(result, access == kAliasRead ? "グループの読み取り" : "グループの変更");
        return handle;
    }

    // Closes a handle opened for one write when the write is done.
    struct Closing {
        State& state;
        policy_handle handle;
        Closing(State& owner, policy_handle opened) : state(owner), handle(opened) {}
        Closing(const Closing&) = delete;
        Closing& operator=(const Closing&) = delete;
        ~Closing() {
            if (!state.broken) {
                try {
                    state.close(handle);
                } catch (const directory::Error&) {
                    // The handle dies with the pipe, which the failure has broken.
                }
            }
        }
    };

    void connect(std::chrono::milliseconds limit);
    void openDomains();
};

void SamrPipe::State::connect(std::chrono::milliseconds limit) {
    mem = talloc_new(nullptr);
    if (!mem)
        throw std::bad_alloc();
    ev = tevent_context_init(mem);
    loadparm_context* lp = loadparm_init(mem);
    cli_credentials* creds = cli_credentials_init(mem);
    if (!ev || !lp || !creds)
        throw std::bad_alloc();
    // SMB2 or 3 only, the transport encrypted (SMB3); names through DNS only, so a name that does
    // not exist is not broadcast for.
    lpcfg_set_cmdline(lp, "client min protocol", "SMB2_02");
    lpcfg_set_cmdline(lp, "client max protocol", "SMB3");
    lpcfg_set_cmdline(lp, "client smb encrypt", "required");
    lpcfg_set_cmdline(lp, "name resolve order", "host");
    lpcfg_set_cmdline(lp, "client use kerberos", "required");
    cli_credentials_set_conf(creds, lp);
    cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
    const char* error = nullptr;
    if (cli_credentials_set_ccache(creds, lp, nullptr, CRED_SPECIFIED, &error) != 0)
        throw directory::Error(directory::codes::kLogonFailure,
                               "Kerberos のチケットがないか、期限が切れています。kinit を実行してください。");

    const directory::SigpipeGuard quiet;
    const std::string binding = "ncacn_np:" + host + "[smb2]";
    composite_context* pending = dcerpc_pipe_connect_send(mem, binding.c_str(), &ndr_table_samr, creds, ev, lp);
    if (!pending)
        throw std::bad_alloc();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto ms = limit.count();
    // tevent frees a timer that fired itself, so the timer hangs from an owner of its own.
    TALLOC_CTX* timerOwner = talloc_new(mem);
    if (!timerOwner ||
        !tevent_add_timer(ev, timerOwner, tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000), wakeUp, nullptr))
        throw std::bad_alloc();
    const auto* head = reinterpret_cast<const CompositeHead*>(pending);
    while (head->state < kCompositeDone && std::chrono::steady_clock::now() < deadline) {
        if (tevent_loop_once(ev) != 0)
            break;
    }
    talloc_free(timerOwner);
    if (head->state < kCompositeDone) {
        talloc_free(pending);
        unreachable(NT_STATUS_IO_TIMEOUT);
    }
    const NTSTATUS status = dcerpc_pipe_connect_recv(pending, mem, &pipe);
    if (!NT_STATUS_IS_OK(status)) {
        if (isRefusal(status))
            throw directory::Error(directory::codes::kLogonFailure,
                                   "コンピューター " + host + " が接続を拒否しました (" + statusText(status) +
                                       ")。チケットの利用者に管理者の権限がないか、コンピューターがドメインの Kerberos "
                                       "を受け付けません。");
        unreachable(status);
    }
    if (!dcerpc_transport_encrypted(pipe)) {
        broken = true;
        throw directory::Error(directory::codes::kAccessDenied,
                               "コンピューター " + host + " との通信を暗号化できません (SMB3 が必要です)。");
    }
    DATA_BLOB key{};
    const NTSTATUS keyStatus = dcerpc_fetch_session_key(pipe, &key);
    if (!NT_STATUS_IS_OK(keyStatus) || key.length == 0) {
        broken = true;
        throw directory::Error(directory::codes::kFail, "コンピューター " + host + " とのセッション鍵を得られません。");
    }
    sessionKey.assign(key.data, key.data + key.length);
    openDomains();
}

void SamrPipe::State::openDomains() {
    Scratch scratch;
    samr_Connect2 c{};
    c.in.system_name = nullptr;
    c.in.access_mask = kMaximumAllowed;
    c.out.connect_handle = &connectHandle;
    NTSTATUS result =
        call(SAMR(dcerpc_samr_Connect2_r_send), SAMR(dcerpc_samr_Connect2_r_recv), &c, scratch.get(), timeouts.read);
    if (!NT_STATUS_IS_OK(result))
        refused(result, "アカウント データベースへの接続");

    // The account domain is the one that is not Builtin: the computer's own name.
    std::uint32_t resume = 0;
    std::uint32_t count = 0;
    samr_SamArray* domains = nullptr;
    samr_EnumDomains e{};
    e.in.connect_handle = &connectHandle;
    e.in.resume_handle = &resume;
    e.in.buf_size = 0xFFFF;
    e.out.resume_handle = &resume;
    e.out.sam = &domains;
    e.out.num_entries = &count;
    result = call(SAMR(dcerpc_samr_EnumDomains_r_send), SAMR(dcerpc_samr_EnumDomains_r_recv), &e, scratch.get(),
                  timeouts.read);
    if (!NT_STATUS_IS_OK(result) || !domains)
        refused(result, "ドメインの一覧");
    for (std::uint32_t i = 0; i < domains->count; ++i) {
        const std::string name = text(domains->entries[i].name);
        if (!sameName(name, "Builtin") && computerName.empty())
            computerName = name;
    }
    if (computerName.empty())
        throw directory::Error(directory::codes::kFail,
                               "コンピューター " + host + " にアカウント ドメインがありません。");

    for (const bool builtin : {false, true}) {
        const std::string name = builtin ? "Builtin" : computerName;
        lsa_String domainName{};
        domainName.string = name.c_str();
        dom_sid* sid = nullptr;
        samr_LookupDomain l{};
        l.in.connect_handle = &connectHandle;
        l.in.domain_name = &domainName;
        l.out.sid = &sid;
        result = call(SAMR(dcerpc_samr_LookupDomain_r_send), SAMR(dcerpc_samr_LookupDomain_r_recv), &l, scratch.get(),
                      timeouts.read);
        if (!NT_STATUS_IS_OK(result) || !sid)
            refused(result, "ドメインの検索");
        (builtin ? builtinSid : domainSid) = *sid;
        samr_OpenDomain o{};
        o.in.connect_handle = &connectHandle;
        o.in.access_mask = kMaximumAllowed;
        o.in.sid = sid;
        o.out.domain_handle = builtin ? &builtinHandle : &domainHandle;
        result = call(SAMR(dcerpc_samr_OpenDomain_r_send), SAMR(dcerpc_samr_OpenDomain_r_recv), &o, scratch.get(),
                      timeouts.read);
        if (!NT_STATUS_IS_OK(result))
            refused(result, "ドメインを開くこと");
    }
}

SamrPipe::SamrPipe(const std::string& host, std::chrono::milliseconds limit, const Timeouts& timeouts)
    : m(std::make_unique<State>()) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { dcerpc_init(); });
    m->host = host;
    m->timeouts = timeouts;
    m->connect(limit);
}

SamrPipe::~SamrPipe() = default;

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
    const NTSTATUS result = m->call(SAMR(dcerpc_samr_LookupRids_r_send), SAMR(dcerpc_samr_LookupRids_r_recv), &r,
                                    scratch.get(), m->timeouts.read);
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
    const std::string key = lower(name);
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
    State::Closing handle{*m, m->openUser(rid, kUserWrite)};
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
    const NTSTATUS result = m->call(SAMR(dcerpc_samr_SetUserInfo2_r_send), SAMR(dcerpc_samr_SetUserInfo2_r_recv), &r,
                                    scratch.get(), m->timeouts.write);
    if (!NT_STATUS_IS_OK(result))
        m->refused(result, "アカウントの変更");
}

void SamrPipe::setPassword(std::uint32_t rid, const directory::Secret& password, bool expired) {
    Scratch scratch;
    State::Closing handle{*m, m->openUser(rid, kUserPassword)};
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
            encryptPasswordAes(password.view(), m->sessionKey, aes);
            std::memcpy(info.info31.password.auth_data, aes.authData, sizeof aes.authData);
            std::memcpy(info.info31.password.salt, aes.salt, sizeof aes.salt);
            info.info31.password.cipher_len = AesPassword::kCipherSize;
            info.info31.password.cipher = aes.cipher;
            info.info31.password_expired = expired ? 1 : 0;
        } else if (level == UserInternal5InformationNew) {
            encryptPasswordEx(password.view(), m->sessionKey, info.info26.password.data);
            info.info26.password_expired = expired ? 1 : 0;
        } else {
            encryptPassword(password.view(), m->sessionKey, info.info24.password.data);
            info.info24.password_expired = expired ? 1 : 0;
        }
        r.in.level = level;
        r.in.info = &info;
        result = m->call(SAMR(dcerpc_samr_SetUserInfo2_r_send), SAMR(dcerpc_samr_SetUserInfo2_r_recv), &r,
                         scratch.get(), m->timeouts.write);
        if (!NT_STATUS_EQUAL(result, NT_STATUS_INVALID_INFO_CLASS))
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
        const NTSTATUS result = m->call(SAMR(dcerpc_samr_EnumDomainUsers_r_send),
                                        SAMR(dcerpc_samr_EnumDomainUsers_r_recv), &r, scratch.get(), m->timeouts.read);
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
        const NTSTATUS result =
            m->call(SAMR(dcerpc_samr_EnumDomainAliases_r_send), SAMR(dcerpc_samr_EnumDomainAliases_r_recv), &r,
                    scratch.get(), m->timeouts.read);
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
        NTSTATUS result = m->call(SAMR(dcerpc_samr_GetAliasMembership_r_send),
                                  SAMR(dcerpc_samr_GetAliasMembership_r_recv), &r, scratch.get(), m->timeouts.read);
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
        result = m->call(SAMR(dcerpc_samr_LookupRids_r_send), SAMR(dcerpc_samr_LookupRids_r_recv), &l, scratch.get(),
                         m->timeouts.read);
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
    const NTSTATUS result = m->call(SAMR(dcerpc_samr_QueryAliasInfo_r_send), SAMR(dcerpc_samr_QueryAliasInfo_r_recv),
                                    &r, scratch.get(), m->timeouts.read);
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
        result = m->call(SAMR(dcerpc_samr_AddAliasMember_r_send), SAMR(dcerpc_samr_AddAliasMember_r_recv), &r,
                         scratch.get(), m->timeouts.write);
    } else {
        samr_DeleteAliasMember r{};
        r.in.alias_handle = &handle;
        r.in.sid = &sid;
        result = m->call(SAMR(dcerpc_samr_DeleteAliasMember_r_send), SAMR(dcerpc_samr_DeleteAliasMember_r_recv), &r,
                         scratch.get(), m->timeouts.write);
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
    const NTSTATUS result = m->call(SAMR(dcerpc_samr_GetMembersInAlias_r_send),
                                    SAMR(dcerpc_samr_GetMembersInAlias_r_recv), &r, scratch.get(), m->timeouts.read);
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
