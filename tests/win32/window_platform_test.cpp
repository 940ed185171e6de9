#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/main_module.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "fake_directory.h"
#include "system/win32/win32_text.h"
#include "test_support.h"

namespace {

// The real window and operator (real message boxes) over an in-memory directory.
struct PlatformWindow : testing::Test {
    PlatformWindow() {
        dir.account("CORP", "bob");
        EXPECT_TRUE(module.Main("bob", window));
    }
    void pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            window.processMessage(message);
    }
    fakes::FakeDirectory dir;
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    quill::win32::Win32Operator person;
    app::Main_Module module{app::Environment{dir, computer, person, clock}};
    quill::win32::MainWindow window{GetModuleHandleW(nullptr), &person};
};

int iconWidth(HWND window, WPARAM which) {
    ICONINFO info{};
    BITMAP bitmap{};
    if (GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0)), &info))
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST_F(PlatformWindow, IconsAreDrawnForTheMonitorsDpi) {
    for (const int dpi : {144, 192, 96}) {
        RECT suggested{};
        GetWindowRect(window.handle(), &suggested);
        SendMessageW(window.handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(iconWidth(window.handle(), ICON_BIG), MulDiv(32, dpi, 96)) << dpi;
        EXPECT_EQ(iconWidth(window.handle(), ICON_SMALL), MulDiv(16, dpi, 96)) << dpi;
    }
}

// Answers the test's message boxes in order, each once it has stayed open half a second (time for
// queued input to answer it first), and notes their texts; boxes past the script get No or OK.
void answerBoxes(std::vector<WPARAM> buttons, std::vector<std::string>& shown, const std::atomic<bool>& done) {
    for (std::size_t i = 0; !done; Sleep(20)) {
        HWND box = FindWindowW(L"#32770", nullptr);
        if (!box)
            continue;
        Sleep(500);
        wchar_t text[512] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 512);
        shown.push_back(quill::win32::toUtf8(text));
        for (const WPARAM button : i < buttons.size() ? std::vector{buttons[i]} : std::vector<WPARAM>{IDNO, IDOK})
            PostMessageW(box, WM_COMMAND, button, 0);
        for (++i; IsWindow(box);)
            Sleep(20);
    }
}

// A key (and a click) the person gave while a directory call blocked the window never answers the
// question that opens afterwards: the answer given to the box itself, later, is the one that counts.
TEST_F(PlatformWindow, InputQueuedDuringADirectoryCallNeverAnswersTheNextQuestion) {
    const std::string reset =
        "パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\r\nよろしいですか？";
    const std::vector<std::string> resetFlow{reset, "bob のパスワードをリセットします。よろしいですか？",
                                             "○ロック解除完了/×パスワードリセット未完了"};
    const struct {
        const char* slowCall;
        bool clickQueued; // else the click starts the slow call
        const char* button;
        BYTE key;
        std::vector<WPARAM> answers;
        std::vector<std::string> boxes;
    } rows[] = {
        {"put IsAccountLocked", false, "Command2", VK_RETURN, {IDYES, IDNO, IDOK}, resetFlow},
        {"put IsAccountLocked", false, "Command2", VK_SPACE, {IDYES, IDNO, IDOK}, resetFlow},
        {"get Description",
         true,
         "アカウント停止",
         VK_RETURN,
         {IDNO},
         {"アカウントを停止すると、利用できなくなります。\r\nよろしいですか？"}},
    };
    SetForegroundWindow(window.handle());
    pump();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.button << " key " << int{row.key});
        HWND button = window.control(row.button);
        bool typed = false;
        dir.duringCall = [&](const std::string& line) {
            if (typed || line.rfind(row.slowCall, 0) != 0)
                return;
            typed = true;
            if (row.clickQueued)
                PostMessageW(button, BM_CLICK, 0, 0);
            keybd_event(row.key, 0, 0, 0);
            keybd_event(row.key, 0, KEYEVENTF_KEYUP, 0);
            Sleep(200); // a slow call: the keys reach the queue meanwhile
        };
        std::vector<std::string> shown;
        std::atomic<bool> done{false};
        std::thread answerer(answerBoxes, row.answers, std::ref(shown), std::cref(done));
        if (row.clickQueued)
            SetWindowTextW(window.comboEdit(), L"bob ");
        else
            SendMessageW(button, BM_CLICK, 0, 0);
        pump();
        done = true;
        answerer.join();
        EXPECT_TRUE(typed);
        EXPECT_EQ(shown, row.boxes);
        EXPECT_FALSE(dir.account("CORP", "bob").disabled);
        EXPECT_EQ(dir.account("CORP", "bob").password, "");
    }
}

} // namespace
