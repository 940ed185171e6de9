#include "samr_failure.h"

#include <cstdio>

namespace samrdir {

std::string statusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(NT_STATUS_V(status)));
    return text;
}

directory::Error unreachable(const std::string& host, NTSTATUS status) {
    if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT))
        return directory::Error(directory::codes::kTimeout, "コンピューター " + host + " が応答しません。");
    return directory::Error(directory::codes::kServerUnavailable,
                            "コンピューター " + host + " に接続できません (" + statusText(status) + ")。");
}

bool isRejectedCall(NTSTATUS status) {
    return NT_STATUS_EQUAL(status, NT_STATUS_RPC_ENUM_VALUE_OUT_OF_RANGE) ||
           NT_STATUS_EQUAL(status, NT_STATUS_RPC_BAD_STUB_DATA) || NT_STATUS_EQUAL(status, NT_STATUS_RPC_INVALID_TAG) ||
           NT_STATUS_EQUAL(status, NT_STATUS_RPC_PROCNUM_OUT_OF_RANGE);
}

} // namespace samrdir
