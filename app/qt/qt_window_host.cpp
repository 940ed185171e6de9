#include "app/qt/qt_window_host.h"

#include "app/qt/qt_operator.h"
#include "app/qt/skip_taskbar.h"

namespace app::qt {

void QtWindowHost::show(LockOpener& window) {
    m_window = std::make_unique<LockOpenerWindow>(window, m_onEscapedError);
    skipTaskbar(*m_window);
    m_person.setOwner(m_window.get());
    m_window->show();
}

} // namespace app::qt
