#include "samr_pipe_cache.h"

#include <algorithm>

#include "directory/ascii.h"
#include "directory/error.h"

namespace samrdir {

namespace {

// The name as DNS knows it: no surrounding spaces, no final dot.
std::string hostName(std::string_view host) {
    while (!host.empty() && host.front() == ' ')
        host.remove_prefix(1);
    while (!host.empty() && (host.back() == ' ' || host.back() == '.'))
        host.remove_suffix(1);
    return std::string(host);
}

// Whether the name can be put in Samba's binding string as its host: no character that the
// string's parser (dcerpc_parse_binding) reads as syntax, "[" and "]" around the options, "," and
// "=" between and inside them, "@" after an object UUID and ":" after the transport, and none that
// no computer's name holds: spaces, control characters, backslashes.
bool isHostName(std::string_view name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' || u == 0x7F || std::string_view("[],=@:\\/").find(c) != std::string_view::npos;
    });
}

} // namespace

SamrPipeCache& SamrPipeCache::shared() {
    static SamrPipeCache cache;
    return cache;
}

void SamrPipeCache::clear() {
    const std::lock_guard lock(m_mutex);
    m_pipes.clear();
    m_failedAt.clear();
}

std::shared_ptr<SamrPipe> SamrPipeCache::forHost(std::string_view host, const std::string& principal, bool* reused) {
    if (reused)
        *reused = false;
    const std::string name = hostName(host);
    if (name.empty())
        throw directory::Error(directory::codes::kBadPathName, "コンピューターが指定されていません。");
    if (!isHostName(name))
        throw directory::Error(directory::codes::kServerUnavailable, "コンピューター " + name + " が見つかりません。");
    const std::string key = principal + '\n' + directory::asciiLower(name);
    const std::lock_guard lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    if (const auto found = m_pipes.find(key); found != m_pipes.end()) {
        if (!found->second->broken()) {
            if (reused)
                *reused = true;
            return found->second;
        }
        // Silent is a failure to remember; a dropped connection (a restart) is not.
        if (found->second->timedOut())
            m_failedAt.try_emplace(key, now);
        m_pipes.erase(found);
    }
    auto limit = m_timeouts.connect;
    if (const auto failed = m_failedAt.find(key); failed != m_failedAt.end()) {
        if (now - failed->second < m_timeouts.remember)
            limit = m_timeouts.retry;
        else
            m_failedAt.erase(failed);
    }
    try {
        auto pipe = std::make_shared<SamrPipe>(name, limit, m_timeouts, m_connector);
        m_failedAt.erase(key);
        m_pipes[key] = pipe;
        return pipe;
    } catch (const directory::Error& error) {
        if (error.number() == directory::codes::kServerUnavailable || error.number() == directory::codes::kTimeout)
            m_failedAt.insert_or_assign(key, now);
        throw;
    }
}

} // namespace samrdir
