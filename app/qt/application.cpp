#include "app/qt/application.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include "app/main_module.h"
#include "app/qt/qt_operator.h"
#include "app/qt/qt_window_host.h"

namespace app::qt {

namespace {

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        const QString file = QStringLiteral(":/icons/%1x%1/apps/quillmarsh.png").arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon.isNull() ? QIcon::fromTheme(QStringLiteral("quillmarsh")) : icon;
}

} // namespace

std::string joinArguments(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += QString::fromLocal8Bit(argv[i]).toStdString();
    }
    return line;
}

int run(QApplication& application, std::string commandLine, directory::Service& directory,
        sysinfo::ComputerSystemQuery& computerSystem, const Clock& clock) {
    QApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QApplication::setWindowIcon(programIcon());

    QtOperator person;
    Main_Module module(Environment{directory, computerSystem, person, clock});
    QtWindowHost host(person, [&application, &host](int status) {
        // Hiding must not count as the person closing the window, which would exit with 0.
        application.setQuitOnLastWindowClosed(false);
        if (auto* window = host.window())
            window->hide();
        QApplication::exit(status);
    });
    if (!module.Main(std::move(commandLine), host))
        return kEscapedErrorExitStatus;
    return QApplication::exec();
}

} // namespace app::qt
