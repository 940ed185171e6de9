#include "host_computer_system.h"

namespace sysinfo {

std::vector<ComputerSystem> HostComputerSystem::query() {
    const HostIdentity id = readHostIdentity(m_sources);
    return {ComputerSystem{id.domainOrWorkgroup(), id.computerName(), id.inDomain()}};
}

std::unique_ptr<ComputerSystemQuery> makePlatformQuery() {
    return std::make_unique<HostComputerSystem>(systemIdentitySources());
}

} // namespace sysinfo
