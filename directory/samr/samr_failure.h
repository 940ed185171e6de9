#pragma once

#include "samba_rpc.h"

#include <string>

#include "directory/error.h"

namespace samrdir {

// The NTSTATUS number as Windows documents it, e.g. 0xC0000022.
std::string statusText(NTSTATUS status);

// The computer did not answer in time (kTimeout) or the connection failed (kServerUnavailable).
directory::Error unreachable(const std::string& host, NTSTATUS status);

} // namespace samrdir
