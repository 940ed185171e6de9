// The program as main() runs it, over the platform's own directory services, driven as a person
// would: for checks of the installed package that need a real user, real pkexec and real polkit.
//   quill_window_driver ACCOUNT STEP...
//     unlock    clicks ロック解除
//     reset     overtypes the password box with the first line of standard input, then clicks
//               ロック解除/パスワードリセット
//     disable   clicks アカウント停止
// ACCOUNT is the command line the program is started with. Every question is answered Yes. Prints
// the condition shown at start ("CONDITION\t...") and every message box ("BOX\ticon\ttitle\ttext"),
// closes the window after the last step and exits with the program's status.

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iostream>
#include <string>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/clock.h"
#include "app/qt/application.h"
#include "directory/platform_service.h"
#include "directory/secret.h"
#include "system/computer_system.h"

namespace {

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QStringLiteral("LockOpener") && widget->isVisible())
            return widget;
    return nullptr;
}

const char* iconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Information:
        return "Information";
    case QMessageBox::Warning:
        return "Warning";
    case QMessageBox::Critical:
        return "Critical";
    case QMessageBox::Question:
        return "Question";
    default:
        return "NoIcon";
    }
}

void print(const QString& line) {
    std::printf("%s\n", qPrintable(QString(line).replace(u'\n', QStringLiteral("\\n"))));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 64;
    const std::string account = argv[1];
    std::deque<QString> steps;
    for (int i = 2; i < argc; ++i)
        steps.push_back(QString::fromLocal8Bit(argv[i]));
    for (const QString& step : steps)
        if (step != "unlock" && step != "reset" && step != "disable")
            return 64;

    std::string line;
    if (std::find(steps.begin(), steps.end(), QStringLiteral("reset")) != steps.end())
        std::getline(std::cin, line);
    const directory::Secret password(line);
    directory::secureZero(line);

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    auto directory = directory::makePlatformService();
    auto computerSystem = sysinfo::makePlatformQuery();
    const app::SystemClock clock;

    bool started = false;
    bool busy = false;
    QPointer<QMessageBox> answered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box != answered) {
            answered = box;
            print(QStringLiteral("BOX\t%1\t%2\t%3").arg(iconName(box->icon()), box->windowTitle(), box->text()));
            QAbstractButton* button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->defaultButton() ? box->defaultButton() : box->buttons().front();
            // Queued: the box's own loop must be running when the click lands.
            QTimer::singleShot(0, button, &QAbstractButton::click);
            return;
        }
        QWidget* window = mainWindow();
        if (!window || busy || QApplication::activeModalWidget())
            return;
        if (!started) {
            started = true;
            print(QStringLiteral("CONDITION\t") +
                  window->findChild<QLabel*>(QStringLiteral("DisplayCondition"))->text());
        }
        if (steps.empty()) {
            poll.stop();
            QTimer::singleShot(0, window, &QWidget::close);
            return;
        }
        const QString step = steps.front();
        steps.pop_front();
        const char* buttonName = step == "unlock" ? "Command1" : step == "reset" ? "Command2" : "アカウント停止";
        if (step == "reset") {
            auto* edit = window->findChild<QLineEdit*>(QStringLiteral("changePassword"));
            edit->selectAll();
            QTest::keyClicks(edit, QString::fromUtf8(password.view().data(), qsizetype(password.view().size())));
        }
        auto* button = window->findChild<QPushButton*>(QString::fromUtf8(buttonName));
        busy = true;
        // The click returns once the handler and all its boxes are done.
        QTimer::singleShot(0, button, [&busy, button] {
            button->click();
            busy = false;
        });
    });
    poll.start(20);

    return app::qt::run(application, account, *directory, *computerSystem, clock);
}
