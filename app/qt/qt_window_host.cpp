#include "app/qt/qt_window_host.h"

#include "app/qt/qt_operator.h"
#include "app/qt/skip_taskbar.h"

namespace app::qt {

void QtWindowHost::show(LockOpener& window) {
    m_window = std::make_unique<LockOpenerWindow>(window, m_onEscapedError);
    skipTaskbar(*m_window);
    m_person.setOwner(m_window.get());
    m_window->show();
    // As a program started on Windows comes to the foreground: without a window manager to
    // focus it, keys would otherwise go to whatever lies under the pointer.
    m_window->activateWindow();
}

} // namespace app::qt
