#pragma once

class QWidget;

namespace app::qt {

// Keeps a top-level window out of the taskbar. Call before the window is first shown: on X11 it
// adds _NET_WM_STATE_SKIP_TASKBAR to the unmapped window's state, which Qt merges with its own
// states when it maps the window. Returns false where the platform offers no such hint
// (offscreen, Wayland).
bool skipTaskbar(QWidget& window);

} // namespace app::qt
