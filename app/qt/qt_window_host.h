#pragma once

#include <memory>

#include "app/main_module.h"
#include "app/qt/lock_opener_window.h"

namespace app::qt {

class QtOperator;

// Builds the widgets for the loaded window and shows it: no owner, no taskbar button, at the
// place the window manager chooses.
class QtWindowHost final : public WindowHost {
public:
    QtWindowHost(QtOperator& person, LockOpenerWindow::EscapedErrorHandler onEscapedError)
        : m_person(person), m_onEscapedError(std::move(onEscapedError)) {}

    void show(LockOpener& window) override;

    // The window once shown, else null.
    LockOpenerWindow* window() noexcept { return m_window.get(); }

private:
    QtOperator& m_person;
    LockOpenerWindow::EscapedErrorHandler m_onEscapedError;
    std::unique_ptr<LockOpenerWindow> m_window;
};

} // namespace app::qt
