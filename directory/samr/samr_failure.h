#pragma once

#include "samba_rpc.h"

#include <string>

#include "directory/error.h"

namespace samrdir {

// The NTSTATUS number as Windows documents it, e.g. 0xC0000022.
std::string statusText(NTSTATUS status);

// The computer did not answer in time (kTimeout) or the connection failed (kServerUnavailable).
directory::Error unreachable(const std::string& host, NTSTATUS status);

// A fault the computer sent for a call it could not take, such as a level it does not have: the
// call's answer, after which the pipe still works. Windows Server before 2022 answers level 31 so
// (ENUM_VALUE_OUT_OF_RANGE, BAD_STUB_DATA or INVALID_TAG); Samba's client reports the invalid-tag
// fault as PROCNUM_OUT_OF_RANGE.
bool isRejectedCall(NTSTATUS status);

} // namespace samrdir
