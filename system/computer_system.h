#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sysinfo {

// One instance of the computer-system record: the domain or workgroup it belongs to, and its name.
struct ComputerSystem {
    std::string Domain;
    std::string Name;
    // False for a computer in a workgroup, whose Domain is the workgroup's name. Unknown counts as
    // a domain, so that a directory that cannot be reached is never taken for a workgroup.
    bool PartOfDomain = true;
};

// "Select * from Win32_ComputerSystem": every instance, in the service's order. Throws
// quill::RuntimeError when the service cannot be reached or read.
class ComputerSystemQuery {
public:
    virtual ~ComputerSystemQuery() = default;
    virtual std::vector<ComputerSystem> query() = 0;
};

// The platform's own query: WMI on Windows, the host's configuration on Linux.
std::unique_ptr<ComputerSystemQuery> makePlatformQuery();

} // namespace sysinfo
