#include "app/win32/window_icons.h"

#include <initializer_list>

#include "app/win32/dpi.h"
#include "app/win32/resource.h"

namespace quill::win32 {

namespace {

// The system's icon size for this DPI (Windows 10 1607 and later), else its size for the system's
// DPI scaled to this one.
int iconSize(int metric, UINT dpi) {
    static const auto forDpi = user32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    if (forDpi)
        if (const int size = forDpi(metric, dpi); size > 0)
            return size;
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(GetSystemMetrics(metric), static_cast<int>(dpi), systemDpi > 0 ? systemDpi : 96);
}

HICON load(HINSTANCE instance, int metric, UINT dpi) {
    const int size = iconSize(metric, dpi);
    // Not shared: a shared icon keeps the size it was first loaded at.
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLMARSH), IMAGE_ICON, size, size, 0));
}

} // namespace

WindowIcons::WindowIcons(HINSTANCE instance, UINT dpi)
    : m_big(load(instance, SM_CXICON, dpi)), m_small(load(instance, SM_CXSMICON, dpi)) {}

WindowIcons::~WindowIcons() {
    for (HICON icon : {m_big, m_small})
        if (icon)
            DestroyIcon(icon);
}

} // namespace quill::win32
