#pragma once

#include <string_view>

#include "directory/error.h"

namespace directory::adsi {

// Throws directory::Error carrying the HRESULT and the system's text for it when hr is a failure.
// The provider's extended error (ADsGetLastError), when it has one, is appended to the text.
void check(long hr, std::string_view step);

[[noreturn]] void fail(long hr, std::string_view step);

} // namespace directory::adsi
