#pragma once

#include <string>

#include "app/clock.h"
#include "directory/service.h"
#include "system/computer_system.h"

class QApplication;

namespace app::qt {

// The command line as one text: the arguments after the program's name, joined by single spaces.
std::string joinArguments(int argc, const char* const* argv);

// Runs the program on a constructed QApplication: loads and shows the window, then answers its
// events until it is closed. Returns the process exit status: 0 when the person closed the
// window, app::kEscapedErrorExitStatus after an error escaped a handler (already reported).
int run(QApplication& application, std::string commandLine, directory::Service& directory,
        sysinfo::ComputerSystemQuery& computerSystem, const Clock& clock);

} // namespace app::qt
