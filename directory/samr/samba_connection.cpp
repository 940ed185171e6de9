#include "samr_connection.h"

#include <dlfcn.h>

#include <mutex>
#include <vector>

#include "directory/error.h"
#include "directory/secret.h"
#include "directory/sigpipe_guard.h"
#include "samr_failure.h"

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
template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

#define SAMR(name)                                                                                                     \
    ([] {                                                                                                              \
        static const auto call = generated<decltype(&name)>(#name);                                                    \
        return call;                                                                                                   \
    }())

class SambaConnection final : public SamrConnection {
public:
    SambaConnection() : m_mem(talloc_new(nullptr)) {
        if (!m_mem)
            throw std::bad_alloc();
    }
    ~SambaConnection() override {
        directory::secureZero(m_sessionKey.data(), m_sessionKey.size());
        const directory::SigpipeGuard quiet; // closing may still write to a dropped connection
        talloc_free(m_mem);
    }
    SambaConnection(const SambaConnection&) = delete;
    SambaConnection& operator=(const SambaConnection&) = delete;

    void open(const std::string& host, std::chrono::milliseconds limit);
    NTSTATUS call(SamrCall call, TALLOC_CTX* mem, std::chrono::milliseconds limit) override;
    std::span<const std::uint8_t> sessionKey() const noexcept override { return m_sessionKey; }

private:
    template <class R>
    NTSTATUS run(tevent_req* (*send)(TALLOC_CTX*, tevent_context*, dcerpc_binding_handle*, R*),
                 NTSTATUS (*recv)(tevent_req*, TALLOC_CTX*), R* r, TALLOC_CTX* mem, std::chrono::milliseconds limit);

    TALLOC_CTX* m_mem;
    tevent_context* m_ev = nullptr;
    dcerpc_pipe* m_pipe = nullptr;
    std::vector<std::uint8_t> m_sessionKey;
};

void SambaConnection::open(const std::string& host, std::chrono::milliseconds limit) {
    m_ev = tevent_context_init(m_mem);
    loadparm_context* lp = loadparm_init(m_mem);
    cli_credentials* creds = cli_credentials_init(m_mem);
    if (!m_ev || !lp || !creds)
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
    composite_context* pending = dcerpc_pipe_connect_send(m_mem, binding.c_str(), &ndr_table_samr, creds, m_ev, lp);
    if (!pending)
        throw std::bad_alloc();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto ms = limit.count();
    // tevent frees a timer that fired itself, so the timer hangs from an owner of its own.
    TALLOC_CTX* timerOwner = talloc_new(m_mem);
    if (!timerOwner ||
        !tevent_add_timer(m_ev, timerOwner, tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000), wakeUp, nullptr))
        throw std::bad_alloc();
    const auto* head = reinterpret_cast<const CompositeHead*>(pending);
    while (head->state < kCompositeDone && std::chrono::steady_clock::now() < deadline) {
        if (tevent_loop_once(m_ev) != 0)
            break;
    }
    talloc_free(timerOwner);
    if (head->state < kCompositeDone) {
        talloc_free(pending);
        throw unreachable(host, NT_STATUS_IO_TIMEOUT);
    }
    const NTSTATUS status = dcerpc_pipe_connect_recv(pending, m_mem, &m_pipe);
    if (!NT_STATUS_IS_OK(status)) {
        if (isRefusal(status))
            throw directory::Error(directory::codes::kLogonFailure,
                                   "コンピューター " + host + " が接続を拒否しました (" + statusText(status) +
                                       ")。チケットの利用者に管理者の権限がないか、コンピューターがドメインの Kerberos "
                                       "を受け付けません。");
        throw unreachable(host, status);
    }
    if (!dcerpc_transport_encrypted(m_pipe))
        throw directory::Error(directory::codes::kAccessDenied,
                               "コンピューター " + host + " との通信を暗号化できません (SMB3 が必要です)。");
    DATA_BLOB key{};
    const NTSTATUS keyStatus = dcerpc_fetch_session_key(m_pipe, &key);
    if (!NT_STATUS_IS_OK(keyStatus) || key.length == 0)
        throw directory::Error(directory::codes::kFail, "コンピューター " + host + " とのセッション鍵を得られません。");
    m_sessionKey.assign(key.data, key.data + key.length);
}

template <class R>
NTSTATUS SambaConnection::run(tevent_req* (*send)(TALLOC_CTX*, tevent_context*, dcerpc_binding_handle*, R*),
                              NTSTATUS (*recv)(tevent_req*, TALLOC_CTX*), R* r, TALLOC_CTX* mem,
                              std::chrono::milliseconds limit) {
    const directory::SigpipeGuard quiet;
    tevent_req* request = send(mem, m_ev, m_pipe->binding_handle, r);
    if (!request)
        throw std::bad_alloc();
    const auto ms = limit.count();
    tevent_req_set_endtime(request, m_ev, tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000));
    NTSTATUS status = NT_STATUS_IO_TIMEOUT;
    if (tevent_req_poll(request, m_ev))
        status = recv(request, mem);
    talloc_free(request);
    return status;
}

NTSTATUS SambaConnection::call(SamrCall call, TALLOC_CTX* mem, std::chrono::milliseconds limit) {
#define GENERATED(Name)                                                                                                \
    [&](samr_##Name* r) {                                                                                              \
        return run(SAMR(dcerpc_samr_##Name##_r_send), SAMR(dcerpc_samr_##Name##_r_recv), r, mem, limit);               \
    }
    return std::visit(Overloaded{GENERATED(Connect2), GENERATED(EnumDomains), GENERATED(LookupDomain),
                                 GENERATED(OpenDomain), GENERATED(LookupNames), GENERATED(LookupRids),
                                 GENERATED(OpenUser), GENERATED(QueryUserInfo), GENERATED(SetUserInfo2),
                                 GENERATED(Close), GENERATED(EnumDomainUsers), GENERATED(EnumDomainAliases),
                                 GENERATED(GetAliasMembership), GENERATED(OpenAlias), GENERATED(QueryAliasInfo),
                                 GENERATED(AddAliasMember), GENERATED(DeleteAliasMember), GENERATED(GetMembersInAlias)},
                      call);
#undef GENERATED
}

} // namespace

SamrConnector sambaConnector() {
    return [](const std::string& host, std::chrono::milliseconds limit) -> std::unique_ptr<SamrConnection> {
        static std::once_flag initialised;
        std::call_once(initialised, [] { dcerpc_init(); });
        auto connection = std::make_unique<SambaConnection>();
        connection->open(host, limit);
        return connection;
    };
}

} // namespace samrdir
