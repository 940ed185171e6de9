#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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

struct Answer {
    const char* box; // the text the box must show
    WPARAM button;
};

// Answers the message boxes of one thread in order, each only after it has stayed open for half a
// second, long enough for anything already queued to have answered it first. Boxes past the script
// are refused (No, or OK), so that a failing flow still ends.
class Answerer {
public:
    Answerer(DWORD thread, std::vector<Answer> script)
        : m_worker([this, thread, script = std::move(script)] {
              for (std::size_t i = 0;; ++i) {
                  HWND box = waitForBox(thread);
                  if (!box)
                      return;
                  wchar_t text[512] = {};
                  GetDlgItemTextW(box, 0xFFFF, text, 512); // the text of a message box
                  shown.push_back(quill::win32::toUtf8(text));
                  Sleep(500);
                  if (!IsWindowVisible(box))
                      continue; // answered by something else
                  for (const WPARAM button :
                       i < script.size() ? std::vector<WPARAM>{script[i].button} : std::vector<WPARAM>{IDNO, IDOK})
                      PostMessageW(box, WM_COMMAND, button, 0);
                  while (IsWindow(box))
                      Sleep(20);
              }
          }) {}
    ~Answerer() { finish(); }
    void finish() {
        m_stop = true;
        if (m_worker.joinable())
            m_worker.join();
    }
    std::vector<std::string> shown;

private:
    HWND waitForBox(DWORD thread) {
        for (; !m_stop; Sleep(20)) {
            HWND found = nullptr;
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM out) {
                    wchar_t name[16] = {};
                    GetClassNameW(window, name, 16);
                    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window))
                        return TRUE;
                    *reinterpret_cast<HWND*>(out) = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&found));
            if (found)
                return found;
        }
        return nullptr;
    }
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

struct QueuedRow {
    const char* name;
    const char* slowCall; // the directory call during which the person's input arrives
    bool clickQueued;     // the button's click is queued too, else it started the slow call
    const char* button;
    WORD key;
    std::vector<Answer> answers;
    bool disabled, passwordSet;
};

void PrintTo(const QueuedRow& row, std::ostream* out) {
    *out << row.name;
}

class QueuedInput : public PlatformWindow, public testing::WithParamInterface<QueuedRow> {};

// An Enter or Space typed while a directory call blocks the window never answers the question that
// opens afterwards: the test's own answer, given later, is the one that counts.
TEST_P(QueuedInput, NeverAnswersTheQuestionThatFollows) {
    const QueuedRow& row = GetParam();
    SetForegroundWindow(window->handle());
    pump();
    HWND button = window->control(row.button);
    bool typed = false;
    dir.duringCall = [&](const std::string& line) {
        if (typed || line.rfind(row.slowCall, 0) != 0)
            return;
        typed = true;
        if (row.clickQueued)
            PostMessageW(button, BM_CLICK, 0, 0);
        keybd_event(static_cast<BYTE>(row.key), 0, 0, 0);
        keybd_event(static_cast<BYTE>(row.key), 0, KEYEVENTF_KEYUP, 0);
        Sleep(200); // the call is slow; the keys reach the queue meanwhile
    };
    Answerer answerer(GetCurrentThreadId(), row.answers);
    if (row.clickQueued)
        SetWindowTextW(window->comboEdit(), L"bob ");
    else
        SendMessageW(button, BM_CLICK, 0, 0);
    pump();
    answerer.finish();

    ASSERT_TRUE(typed);
    std::vector<std::string> expected;
    for (const Answer& answer : row.answers)
        expected.push_back(answer.box);
    EXPECT_EQ(answerer.shown, expected);
    EXPECT_EQ(dir.account("CORP", "bob").disabled, row.disabled);
    EXPECT_EQ(!dir.account("CORP", "bob").password.empty(), row.passwordSet);
}

const char kResetPrompt[] =
    "パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\r\nよろしいですか？";
const char kStopPrompt[] = "アカウントを停止すると、利用できなくなります。\r\nよろしいですか？";
const char kSecondResetPrompt[] = "bob のパスワードをリセットします。よろしいですか？";
const char kResetDeclined[] = "○ロック解除完了/×パスワードリセット未完了";

INSTANTIATE_TEST_SUITE_P(
    Keys, QueuedInput,
    testing::Values(QueuedRow{"EnterDuringTheUnlock",
                              "put IsAccountLocked",
                              false,
                              "Command2",
                              VK_RETURN,
                              {{kResetPrompt, IDYES}, {kSecondResetPrompt, IDNO}, {kResetDeclined, IDOK}},
                              false,
                              false},
                    QueuedRow{"SpaceDuringTheUnlock",
                              "put IsAccountLocked",
                              false,
                              "Command2",
                              VK_SPACE,
                              {{kResetPrompt, IDYES}, {kSecondResetPrompt, IDNO}, {kResetDeclined, IDOK}},
                              false,
                              false},
                    QueuedRow{"ClickAndEnterDuringALookup",
                              "get Description",
                              true,
                              "アカウント停止",
                              VK_RETURN,
                              {{kStopPrompt, IDNO}},
                              false,
                              false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
