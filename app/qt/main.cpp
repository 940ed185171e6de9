#include <QApplication>

#include "app/clock.h"
#include "app/qt/application.h"
#include "directory/platform_service.h"
#include "system/computer_system.h"

int main(int argc, char** argv) {
    // The whole command line is the initial account name, so Qt is handed none of it.
    const std::string commandLine = app::qt::joinArguments(argc, argv);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    auto directory = directory::makePlatformService();
    auto computerSystem = sysinfo::makePlatformQuery();
    const app::SystemClock clock;
    return app::qt::run(application, commandLine, *directory, *computerSystem, clock);
}
