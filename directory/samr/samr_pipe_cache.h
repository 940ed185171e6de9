#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "samr_pipe.h"

namespace samrdir {

// The open SAMR pipes of the process, one per computer and Kerberos principal (another user's
// ticket never reuses a pipe). A computer whose pipe broke or could not be opened is remembered
// for Timeouts::remember: each attempt meanwhile gets only Timeouts::retry to connect.
class SamrPipeCache {
public:
    explicit SamrPipeCache(Timeouts timeouts = {}, SamrConnector connector = sambaConnector())
        : m_timeouts(timeouts), m_connector(std::move(connector)) {}

    // The cache every SamrService shares.
    static SamrPipeCache& shared();

    // An open pipe to host's own accounts for principal. Throws directory::Error when the
    // computer cannot be reached or refuses. reused, when given, tells whether the pipe was open
    // before this call.
    std::shared_ptr<SamrPipe> forHost(std::string_view host, const std::string& principal, bool* reused = nullptr);

    // Closes every pipe and forgets every failure.
    void clear();

private:
    Timeouts m_timeouts;
    SamrConnector m_connector;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<SamrPipe>> m_pipes;
    std::map<std::string, std::chrono::steady_clock::time_point> m_failedAt;
};

} // namespace samrdir
