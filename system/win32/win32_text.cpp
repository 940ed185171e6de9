#include "system/win32/win32_text.h"

#include <windows.h>

#include <cstdio>

#include "system/unicode/utf_convert.h"

namespace quill::win32 {

// wchar_t is UTF-16 here, so the portable converters' units pass straight through.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring toWide(std::string_view utf8) {
    const std::u16string wide = unicode::utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string toUtf8(std::wstring_view utf16) {
    return unicode::utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
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

// The NetAPI's own errors, NERR_BASE to MAX_NERR, as an HRESULT of the Win32 facility or bare.
bool isNetApiError(DWORD code) {
    const bool win32 = code < 0x10000 || (HRESULT_FACILITY(code) == FACILITY_WIN32 && (code & 0x80000000));
    return win32 && HRESULT_CODE(code) >= 2100 && HRESULT_CODE(code) <= 2999;
}

// Their texts live in netmsg.dll, not in the system's table; taken from the system folder only.
std::wstring netApiMessage(DWORD code) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const std::wstring file = std::wstring(folder, length) + L"\\netmsg.dll";
    HMODULE netmsg = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!netmsg)
        return {};
    std::wstring text = formatFrom(FORMAT_MESSAGE_FROM_HMODULE, netmsg, code);
    FreeLibrary(netmsg);
    return text;
}

} // namespace

std::string systemMessage(long hresult) {
    const auto code = static_cast<DWORD>(hresult);
    std::wstring text = isNetApiError(code) ? netApiMessage(HRESULT_CODE(code)) : std::wstring();
    if (text.empty())
        text = formatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
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
