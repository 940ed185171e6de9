#pragma once

#include <string_view>

#include "host_identity.h"

namespace sysinfo {

// True when a directory target names this computer, so its own accounts answer for it: the
// empty text, ".", "localhost", a loopback address (127.0.0.0/8, ::1, also in brackets), the
// host name, the NetBIOS name or the fully qualified name (each with or without one trailing
// full stop, without regard to case), and, when the computer is in no domain, its workgroup.
bool namesComputer(std::string_view target, const HostIdentity& identity);

// The same for the running system, its identity read afresh.
bool namesThisComputer(std::string_view target);

} // namespace sysinfo
