#include <windows.h>

#include <cstdlib>
#include <string_view>

#include "app/main_module.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "fake_directory.h"
#include "system/win32/com_apartment.h"
#include "test_support.h"

// Shows the window over an in-memory directory for a screenshot, then closes it after the number
// of seconds given (default 10). With --hold SECONDS it shows nothing and only stays alive, which
// keeps wine's server and its services up between the test processes of one run.
int main(int argc, char** argv) {
    if (argc > 2 && std::string_view(argv[1]) == "--hold") {
        Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000u);
        return 0;
    }
    const quill::win32::ComApartment com;
    fakes::FakeDirectory directory;
    directory.account("CORP", "yamada").description = "営業部 山田 太郎";
    directory.account("CORP", "yamada").locked = true;
    directory.account("CORP", "suzuki").description = "経理部";
    directory.listing["CORP"] = {"yamada", "suzuki"};
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    quill::win32::Win32Operator person;

    app::Main_Module module(app::Environment{directory, computer, person, clock});
    quill::win32::MainWindow window(GetModuleHandleW(nullptr), &person);
    if (!module.Main("yamada", window))
        return 1;
    const UINT seconds = argc > 1 ? static_cast<UINT>(std::atoi(argv[1])) : 10u;
    SetWindowPos(window.handle(), HWND_TOP, 24, 24, 0, 0, SWP_NOSIZE);
    SetTimer(window.handle(), 1, seconds * 1000,
             [](HWND w, UINT, UINT_PTR, DWORD) { PostMessageW(w, WM_CLOSE, 0, 0); });
    return window.run();
}
