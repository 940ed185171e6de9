#include "samr_pipe_state.h"

#include <algorithm>

namespace samrdir {

void SamrPipe::State::openDomains() {
    Scratch scratch;
    samr_Connect2 c{};
    c.in.system_name = nullptr;
    c.in.access_mask = kMaximumAllowed;
    c.out.connect_handle = &connectHandle;
    NTSTATUS result = call(&c, scratch.get(), openingLimit());
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
    result = call(&e, scratch.get(), openingLimit());
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
        result = call(&l, scratch.get(), openingLimit());
        if (!NT_STATUS_IS_OK(result) || !sid)
            refused(result, "ドメインの検索");
        (builtin ? builtinSid : domainSid) = *sid;
        samr_OpenDomain o{};
        o.in.connect_handle = &connectHandle;
        o.in.access_mask = kMaximumAllowed;
        o.in.sid = sid;
        o.out.domain_handle = builtin ? &builtinHandle : &domainHandle;
        result = call(&o, scratch.get(), openingLimit());
        if (!NT_STATUS_IS_OK(result))
            refused(result, "ドメインを開くこと");
    }
}

std::unique_ptr<SamrPipe::State> SamrPipe::State::open(const std::string& host, std::chrono::milliseconds limit,
                                                       const Timeouts& timeouts, const SamrConnector& connector) {
    auto state = std::make_unique<State>();
    state->host = host;
    state->timeouts = timeouts;
    state->connector = connector;
    if (limit < timeouts.connect)
        state->openBy = std::chrono::steady_clock::now() + limit;
    state->connection = connector(host, limit);
    state->openDomains();
    state->openBy.reset();
    return state;
}

std::chrono::milliseconds SamrPipe::State::openingLimit() const {
    if (!openBy)
        return timeouts.read;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*openBy - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), timeouts.read);
}

SamrPipe::SamrPipe(const std::string& host, std::chrono::milliseconds limit, const Timeouts& timeouts,
                   const SamrConnector& connector)
    : m(State::open(host, limit, timeouts, connector)) {}

void SamrPipe::reconnect() {
    m = State::open(m->host, m->timeouts.connect, m->timeouts, m->connector);
}

SamrPipe::~SamrPipe() = default;

} // namespace samrdir
