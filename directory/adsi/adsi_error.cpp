#include "directory/adsi/adsi_error.h"

#include <windows.h>

#include <activeds.h>

#include <string>

#include "system/win32/win32_text.h"

namespace directory::adsi {

namespace {

// The provider's own words about the last failure, if it left any (Win32 provider errors do).
std::string extendedError() {
    DWORD code = 0;
    wchar_t text[512] = {};
    wchar_t provider[128] = {};
    if (ADsGetLastError(&code, text, ARRAYSIZE(text), provider, ARRAYSIZE(provider)) < 0 || code == 0 || !text[0])
        return {};
    return quill::win32::toUtf8(text);
}

} // namespace

void fail(long hr, std::string_view step) {
    std::string description = std::string(step) + ": " + quill::win32::systemMessage(hr);
    if (const std::string extra = extendedError(); !extra.empty())
        description += " (" + extra + ")";
    throw Error(hr, description);
}

void check(long hr, std::string_view step) {
    if (hr < 0)
        fail(hr, step);
}

} // namespace directory::adsi
