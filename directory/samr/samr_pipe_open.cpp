#include "samr_pipe_state.h"

#include <mutex>

#include "directory/sigpipe_guard.h"

namespace samrdir {

namespace {

// The head of libcli's composite_context, the handle of the connect call: its state, which
// reaches 2 (done) or 3 (error) when the call has finished. The connect call offers no time
// limit of its own, so the caller runs the event loop and watches this.
struct CompositeHead {
    int state;
};
constexpr int kCompositeDone = 2;

void wakeUp(tevent_context*, tevent_timer*, timeval, void*) {}

bool isRefusal(NTSTATUS status) {
    return NT_STATUS_EQUAL(status, NT_STATUS_ACCESS_DENIED) || NT_STATUS_EQUAL(status, NT_STATUS_LOGON_FAILURE) ||
           NT_STATUS_EQUAL(status, NT_STATUS_WRONG_PASSWORD) || NT_STATUS_EQUAL(status, NT_STATUS_NO_SUCH_USER) ||
           NT_STATUS_EQUAL(status, NT_STATUS_ACCOUNT_DISABLED) ||
           NT_STATUS_EQUAL(status, NT_STATUS_TRUSTED_RELATIONSHIP_FAILURE) ||
           NT_STATUS_EQUAL(status, NT_STATUS_INVALID_ACCOUNT_NAME) ||
           NT_STATUS_EQUAL(status, NT_STATUS_NETWORK_ACCESS_DENIED);
}

} // namespace

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

} // namespace samrdir
