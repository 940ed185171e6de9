// The program as main() runs it, over test services, for checks that need a real process:
// its exit status. Every message box is answered with its default button and printed.
//   gui_probe load-fails      the computer-system query fails during start-up
//   gui_probe handler-fails   the enable button's own directory write is refused
//   gui_probe close           the window is closed once shown

#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/qt/application.h"
#include "app/qt/qt_window_host.h"
#include "memory_directory.h"
#include "message_box_answerer.h"
#include "test_environment.h"

namespace {

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QStringLiteral("LockOpener") && widget->isVisible())
            return widget;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    const QString scenario = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    guitest::MemoryDirectory directory("CORP");
    directory.add({"jdoe", "Doe, John", true, false, "", {}, {}, false});
    guitest::FixedComputerSystem computerSystem;
    guitest::FixedClock clock;
    if (scenario == "load-fails")
        computerSystem.fail = true;
    else if (scenario == "handler-fails")
        directory.refusedPuts.insert("AccountExpirationDate");
    else if (scenario != "close")
        return 64;

    QPointer<QMessageBox> answered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box != answered) {
            answered = box;
            std::printf("BOX\t%s\t%s\t%s\n", qPrintable(guitest::iconName(box->icon())), qPrintable(box->windowTitle()),
                        qPrintable(box->text().replace('\n', QStringLiteral("\\n"))));
            std::fflush(stdout);
            box->defaultButton() ? box->defaultButton()->click() : box->buttons().front()->click();
            return;
        }
        QWidget* window = mainWindow();
        if (!window || QApplication::activeModalWidget())
            return;
        // Queued: a box opened inside this timer's slot would wait for this very timer.
        if (scenario == "close") {
            QStringList sizes;
            for (const QSize& size : window->windowIcon().availableSizes())
                sizes << QString::number(size.width());
            std::printf("ICON\t%s\n", qPrintable(sizes.join(u',')));
            std::fflush(stdout);
            poll.stop();
            QTimer::singleShot(0, window, &QWidget::close);
        } else if (auto* button = window->findChild<QPushButton*>(QStringLiteral("アカウント有効"));
                   button && button->isEnabled())
            QTimer::singleShot(0, button, &QPushButton::click);
    });
    poll.start(20);

    return app::qt::run(application, "jdoe", directory, computerSystem, clock);
}
