#pragma once

#include <windows.h>

namespace quill::win32 {

// The window's big and small icons drawn for one DPI from the program's icon resource, whose 64,
// 32 and 16 pixel images then need no blurry stretching on a monitor of high DPI. Owns them.
class WindowIcons {
public:
    WindowIcons(HINSTANCE instance, UINT dpi);
    ~WindowIcons();
    WindowIcons(const WindowIcons&) = delete;
    WindowIcons& operator=(const WindowIcons&) = delete;

    HICON bigIcon() const noexcept { return m_big; }
    HICON smallIcon() const noexcept { return m_small; }

private:
    HICON m_big = nullptr;
    HICON m_small = nullptr;
};

} // namespace quill::win32
