#pragma once

#include <string>
#include <string_view>

namespace quill::win32 {

// UTF-8 (inside the program) to UTF-16 (the platform's calls) and back. Invalid sequences become
// U+FFFD rather than failing: these texts are shown or passed on, never parsed.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view utf16);

// The platform's own message text for an HRESULT or Win32 error, without the trailing line break;
// "HRESULT 0x8007xxxx" when the system has none. NetAPI errors (2100-2999) are looked up in the
// system folder's netmsg.dll first, the ADSI range in activeds.dll last.
std::string systemMessage(long hresult);

} // namespace quill::win32
