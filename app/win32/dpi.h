#pragma once

#include <windows.h>

#include <cstring>

namespace quill::win32 {

// A user32 function that only newer systems have, or null: the program still starts on older ones.
template <class Fn> Fn user32Function(const char* name) {
    Fn fn = nullptr;
    if (const FARPROC proc = GetProcAddress(GetModuleHandleW(L"user32.dll"), name)) {
        static_assert(sizeof fn == sizeof proc);
        std::memcpy(&fn, &proc, sizeof fn);
    }
    return fn;
}

// The DPI of the monitor the window is on (the system's DPI before Windows 10).
UINT dpiOf(HWND window);

// AdjustWindowRectEx for this DPI where the system can, else for the system's DPI.
void adjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

} // namespace quill::win32
