#pragma once

#include <windows.h>

#include <oaidl.h>

#include "directory/value.h"

namespace directory::adsi {

// The automation variant a property write by name passes: VT_BSTR, VT_I2, VT_I4, VT_BOOL, or
// VT_ARRAY | VT_VARIANT (lower bound 0) for an array, recursively. The caller owns the result and
// clears it with VariantClear. Throws directory::Error when memory runs out.
VARIANT toVariant(const Value& value);

} // namespace directory::adsi
