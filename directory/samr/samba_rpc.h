#pragma once

// Samba's public DCE/RPC client headers for C++. They are C: their macros cast the C way, so an
// including file cannot warn about old-style casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

// credentials.h declares these enums only by name, which C++ does not allow; the values are those
// of libcli/smb/smb_constants.h, which is not installed.
enum smb_signing_setting {
    SMB_SIGNING_IPC_DEFAULT = -2,
    SMB_SIGNING_DEFAULT = -1,
    SMB_SIGNING_OFF = 0,
    SMB_SIGNING_IF_REQUIRED = 1,
    SMB_SIGNING_DESIRED = 2,
    SMB_SIGNING_REQUIRED = 3,
};
enum smb_encryption_setting {
    SMB_ENCRYPTION_DEFAULT = -1,
    SMB_ENCRYPTION_OFF = 0,
    SMB_ENCRYPTION_IF_REQUIRED = 1,
    SMB_ENCRYPTION_DESIRED = 2,
    SMB_ENCRYPTION_REQUIRED = 3,
};

extern "C" {
#include <talloc.h>
#include <tevent.h>
#include <util/data_blob.h>
#include <core/ntstatus.h>
#include <credentials.h>
#include <param.h>
#include <dcerpc.h>
#include <gen_ndr/ndr_samr_c.h>
}
