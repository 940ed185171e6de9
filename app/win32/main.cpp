#include <windows.h>

#include <exception>
#include <string>

#include "app/clock.h"
#include "app/main_module.h"
#include "app/win32/command_line.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "directory/platform_service.h"
#include "system/win32/com_apartment.h"
#include "system/win32/win32_text.h"

namespace {

// The program's own failures (not one of the window's handlers): shown like any escaped error.
constexpr long kInternalError = 51;

int runProgram(HINSTANCE instance, quill::win32::Win32Operator& person) {
    const quill::win32::ComApartment com;
    // Default security for the WMI and directory proxies this process calls; too late is fine.
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                         EOAC_NONE, nullptr);

    const auto directoryService = directory::makePlatformService();
    const auto computerSystem = sysinfo::makePlatformQuery();
    const app::SystemClock clock;
    app::Main_Module module(app::Environment{*directoryService, *computerSystem, person, clock});
    quill::win32::MainWindow window(instance, &person);

    const std::string commandLine = quill::win32::toUtf8(quill::win32::argumentsAfterProgramName(GetCommandLineW()));
    if (!module.Main(commandLine, window))
        return app::kEscapedErrorExitStatus;
    return window.run();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    quill::win32::Win32Operator person;
    try {
        return runProgram(instance, person);
    } catch (const quill::RuntimeError& e) {
        person.reportEscapedError(e.number(), e.description());
    } catch (const std::exception& e) {
        person.reportEscapedError(kInternalError, e.what());
    }
    return app::kEscapedErrorExitStatus;
}
