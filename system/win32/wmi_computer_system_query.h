#pragma once

#include "system/computer_system.h"

namespace sysinfo {

// Win32_ComputerSystem from WMI (root\cimv2 on this computer). Needs COM on the calling thread.
class WmiComputerSystemQuery final : public ComputerSystemQuery {
public:
    // Every instance's Domain, Name and (from DomainRole) PartOfDomain, in the service's order; a NULL
    // Domain or Name reads as "".
    // Throws quill::RuntimeError with the HRESULT and the system's text when a step fails.
    std::vector<ComputerSystem> query() override;
};

} // namespace sysinfo
