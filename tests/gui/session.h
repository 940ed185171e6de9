#pragma once

#include <string>
#include <vector>

#include <QApplication>
#include <QTest>

#include "app/main_module.h"
#include "app/qt/qt_operator.h"
#include "app/qt/qt_window_host.h"
#include "memory_directory.h"
#include "test_environment.h"

namespace guitest {

// One run of the program inside the test process: the real window, operator and window logic
// over the in-memory directory. Escaped errors are recorded instead of ending the process.
struct Session {
    MemoryDirectory directory{"CORP"};
    FixedComputerSystem computerSystem;
    FixedClock clock;
    app::qt::QtOperator person;
    app::Main_Module module{app::Environment{directory, computerSystem, person, clock}};
    std::vector<int> exits;
    app::qt::QtWindowHost host{person, [this](int status) { exits.push_back(status); }};

    Session() {
        directory.add({"jdoe", "Doe, John", false, true, "old", {}, {}});
        directory.add({"asmith", "", false, false, "", {}, {}});
        directory.add({"bwong", "Wong <b>B</b>", true, false, "", {}, {}});
    }

    // Loads and shows the window; true when it is up and active.
    bool start(const std::string& commandLine = {}) {
        if (!module.Main(commandLine, host))
            return false;
        QApplication::setActiveWindow(host.window());
        return QTest::qWaitForWindowActive(host.window());
    }

    app::qt::LockOpenerWindow* window() { return host.window(); }

    template <class T> T* get(const char* name) { return qobject_cast<T*>(host.window()->control(name)); }
};

} // namespace guitest
