#pragma once

#include <memory>
#include <string_view>

#include "directory/object_path.h"
#include "directory/service.h"

namespace samrdir {

class SamrPipe;
class SamrPipeCache;

// Another computer's own accounts (its SAM) over SMB with SAMR, with the user's own Kerberos
// ticket; no password is asked for or kept. The path's host (the computer of
// WinNT://DOMAIN/COMPUTER/name, else the target) is a host name, NetBIOS name, full name or
// address. Pipes stay open across binds; objects are bound afresh every time.
class SamrService final : public directory::Service {
public:
    // Uses the process-wide pipe cache.
    SamrService();
    // Uses the given cache, which must outlive the service.
    explicit SamrService(SamrPipeCache& cache) : m_cache(cache) {}

    // WinNT://host/name,User, WinNT://host/name,Group, WinNT://host/name (user or local group) and
    // WinNT://host (the computer). Throws directory::Error: no ticket, a computer that cannot be
    // reached or refuses, no such account.
    std::unique_ptr<directory::Object> bind(std::string_view path) override;

private:
    std::unique_ptr<directory::Object> bindOn(const std::shared_ptr<SamrPipe>& pipe,
                                              const directory::ObjectPath& parsed, std::string_view path);

    SamrPipeCache& m_cache;
};

} // namespace samrdir
