#pragma once

#include "host_identity.h"
#include "system/computer_system.h"

namespace sysinfo {

// The computer-system record on Linux: one instance, Domain = the joined Active Directory
// domain or else the Samba workgroup, Name = the NetBIOS name or else the short host name.
// Read afresh on every query; no source at all still gives WORKGROUP and the host name.
class HostComputerSystem final : public ComputerSystemQuery {
public:
    explicit HostComputerSystem(IdentitySources sources) : m_sources(std::move(sources)) {}
    std::vector<ComputerSystem> query() override;

private:
    IdentitySources m_sources;
};

} // namespace sysinfo
