#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "app/main_module.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "fake_directory.h"
#include "test_support.h"

namespace {

// The real window with the real operator (real message boxes) over an in-memory directory.
class PlatformWindow : public testing::Test {
protected:
    PlatformWindow() {
        dir.account("CORP", "bob").locked = true;
        dir.listing["CORP"] = {"bob"};
        module = std::make_unique<app::Main_Module>(app::Environment{dir, computer, person, clock});
        window = std::make_unique<quill::win32::MainWindow>(GetModuleHandleW(nullptr), &person);
        EXPECT_TRUE(module->Main("bob", *window));
        pump();
    }
    ~PlatformWindow() override {
        window.reset();
        pump();
    }
    void pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_QUIT)
                window->processMessage(message);
    }

    fakes::FakeDirectory dir;
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    quill::win32::Win32Operator person;
    std::unique_ptr<app::Main_Module> module;
    std::unique_ptr<quill::win32::MainWindow> window;
};

int iconWidth(HWND window, WPARAM which) {
    ICONINFO info{};
    if (!GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0)), &info))
        return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST_F(PlatformWindow, IconsAreDrawnForTheMonitorsDpi) {
    for (const UINT dpi : {144u, 192u, 96u}) {
        SCOPED_TRACE(dpi);
        RECT suggested{};
        GetWindowRect(window->handle(), &suggested);
        SendMessageW(window->handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(iconWidth(window->handle(), ICON_BIG), MulDiv(32, static_cast<int>(dpi), 96));
        EXPECT_EQ(iconWidth(window->handle(), ICON_SMALL), MulDiv(16, static_cast<int>(dpi), 96));
    }
}

} // namespace
