#include "system/win32/win32_text.h"

#include <windows.h>

#include <cstdio>
#include <limits>

namespace quill::win32 {

std::wstring toWide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return {};
    const int length = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
    return wide;
}

std::string toUtf8(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    if (utf16.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return {};
    const int length = static_cast<int>(utf16.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

namespace {

std::wstring formatFrom(DWORD flags, HMODULE module, DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                                        code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

} // namespace

std::string systemMessage(long hresult) {
    const auto code = static_cast<DWORD>(hresult);
    std::wstring text = formatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.empty() && HRESULT_FACILITY(code) == FACILITY_WIN32)
        text = formatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, HRESULT_CODE(code));
    if (text.empty()) {
        // ADSI's own errors (0x80005000 and up) are described by its library, if it is loaded.
        if (HMODULE activeds = GetModuleHandleW(L"activeds.dll"))
            text = formatFrom(FORMAT_MESSAGE_FROM_HMODULE, activeds, code);
    }
    if (!text.empty())
        return toUtf8(text);
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "HRESULT 0x%08lX", static_cast<unsigned long>(code));
    return fallback;
}

} // namespace quill::win32
