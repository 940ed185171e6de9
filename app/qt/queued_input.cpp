#include "app/qt/queued_input.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

namespace app::qt {

namespace {

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::Close: // a close box clicked meanwhile, which the modal box would block too
        return true;
    default:
        return false;
    }
}

class InputDrop final : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return isInput(event->type()); }
};

} // namespace

void dropQueuedInput() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    InputDrop drop;
    application->installEventFilter(&drop);
    // One pass may read a device and the next deliver what it read. Timers stay off: nothing of
    // the window's own may run inside the handler that asks. Bounded, as painting can keep a pass busy.
    QEventLoop loop;
    for (int pass = 0; pass < 8 && loop.processEvents(QEventLoop::X11ExcludeTimers); ++pass) {
    }
}

} // namespace app::qt
