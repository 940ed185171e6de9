#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "app/main_module.h"
#include "app/win32/main_window.h"
#include "app/win32/win32_operator.h"
#include "fake_directory.h"
#include "system/win32/win32_text.h"
#include "test_support.h"

namespace {

using quill::win32::MainWindow;
using quill::win32::toUtf8;
using quill::win32::toWide;
namespace mb = quill::msgbox;

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

class Win32Window : public testing::Test {
protected:
    Win32Window() {
        dir.account("CORP", "jdoe").description = "営業部";
        dir.account("CORP", "amy");
        dir.account("CORP", "bob").locked = true;
        dir.listing["CORP"] = {"jdoe", "amy", "bob"};
    }
    ~Win32Window() override {
        window.reset();
        pump();
    }

    void start(const std::string& commandLine = "", quill::Operator* op = nullptr,
               quill::win32::Win32Operator* owner = nullptr) {
        module = std::make_unique<app::Main_Module>(app::Environment{dir, computer, op ? *op : person, clock});
        window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), owner);
        ASSERT_TRUE(module->Main(commandLine, *window));
        pump();
    }

    // Delivers what is queued through the window's own message handling; remembers WM_QUIT.
    void pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitCode = static_cast<int>(message.wParam);
                continue;
            }
            if (window)
                window->processMessage(message);
            else
                DispatchMessageW(&message);
        }
    }

    void key(HWND target, UINT virtualKey) {
        PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
        PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
        pump();
    }
    void typeChar(HWND target, wchar_t c) {
        PostMessageW(target, WM_CHAR, c, 1);
        pump();
    }
    void click(std::string_view name) {
        SendMessageW(ctl(name), BM_CLICK, 0, 0);
        pump();
    }
    // Runs what another program does (an accessibility client, say) on a thread of its own while
    // this thread keeps handling messages: the window gets the calls as it would from outside.
    void fromOutside(const std::function<void()>& action) {
        std::atomic<bool> done{false};
        std::thread outside([&] {
            action();
            done = true;
        });
        while (!done) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            pump();
        }
        outside.join();
        pump();
    }

    HWND ctl(std::string_view name) const { return window->control(name); }
    std::string text(std::string_view name) const { return toUtf8(textOf(ctl(name))); }
    std::size_t lookups(const std::string& account) const {
        return dir.count("bind WinNT://CORP/" + account + ",User");
    }

    fakes::FakeDirectory dir;
    fakes::FakeComputerSystem computer;
    fakes::ScriptedOperator person;
    fakes::FixedClock clock;
    std::unique_ptr<app::Main_Module> module;
    std::unique_ptr<MainWindow> window;
    int quitCode = -1;
};

std::wstring expectedClass(app::ControlKind kind) {
    switch (kind) {
    case app::ControlKind::ComboBox:
        return L"ComboBox";
    case app::ControlKind::Frame:
    case app::ControlKind::Button:
    case app::ControlKind::CheckBox:
        return L"Button";
    case app::ControlKind::TextBox:
        return L"Edit";
    case app::ControlKind::Label:
        return L"Static";
    }
    return {};
}

TEST_F(Win32Window, SeventeenControlsWithTheTablesTextsPlacesAndFonts) {
    start();
    const UINT dpi = window->dpi();
    const auto px = [dpi](int twips) { return app::twipsToPixels(twips, dpi); };

    RECT client{};
    GetClientRect(window->handle(), &client);
    EXPECT_EQ(client.right, px(app::kWindow.clientWidth));
    EXPECT_EQ(client.bottom, px(app::kWindow.clientHeight));

    int children = 0;
    for (HWND child = GetWindow(window->handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 17);

    for (const app::ControlSpec& entry : app::kControls) {
        SCOPED_TRACE(std::string(entry.name));
        HWND child = ctl(entry.name);
        ASSERT_TRUE(child);
        EXPECT_EQ(GetParent(child), window->handle());
        EXPECT_TRUE(IsWindowVisible(child));
        EXPECT_EQ(_wcsicmp(classOf(child).c_str(), expectedClass(entry.kind).c_str()), 0) << toUtf8(classOf(child));
        if (entry.kind != app::ControlKind::ComboBox && entry.kind != app::ControlKind::TextBox &&
            entry.name != "DisplayCondition") {
            EXPECT_EQ(text(entry.name), entry.caption);
        }

        RECT box{};
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, window->handle(), reinterpret_cast<POINT*>(&box), 2);
        int left = px(entry.left);
        int top = px(entry.top);
        if (const app::ControlSpec* frame = app::findControl(entry.container)) {
            left += px(frame->left);
            top += px(frame->top);
        }
        EXPECT_EQ(box.left, left);
        EXPECT_EQ(box.top, top);
        if (entry.autoSize) {
            EXPECT_GT(box.right - box.left, 0);
        } else if (entry.kind == app::ControlKind::ComboBox) {
            // Never lower than designed, and tall enough for its font's text.
            EXPECT_EQ(box.right - box.left, px(entry.width));
            EXPECT_GE(box.bottom - box.top, px(entry.height));
            HDC dc = GetDC(window->comboEdit());
            const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
            TEXTMETRICW metrics{};
            GetTextMetricsW(dc, &metrics);
            SelectObject(dc, previous);
            ReleaseDC(window->comboEdit(), dc);
            RECT field{};
            GetClientRect(window->comboEdit(), &field);
            EXPECT_GE(field.bottom, metrics.tmHeight);
        } else {
            EXPECT_EQ(box.right - box.left, px(entry.width));
            EXPECT_EQ(box.bottom - box.top, px(entry.height));
        }

        LOGFONTW font{};
        ASSERT_EQ(GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)), sizeof font, &font),
                  static_cast<int>(sizeof font));
        EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");
        EXPECT_EQ(font.lfHeight, -MulDiv(entry.fontPoints, static_cast<int>(dpi), 72));
        EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
        EXPECT_EQ(font.lfWeight, FW_NORMAL);
    }
}

// Under wine the designed face is replaced by a wider one: every caption must still fit, so no
// label runs into its neighbour and no button or frame clips its text.
TEST_F(Win32Window, EveryCaptionFitsItsControlInTheFontItShows) {
    start();
    const UINT dpi = window->dpi();
    for (const app::ControlSpec& entry : app::kControls) {
        if (entry.caption.empty())
            continue;
        SCOPED_TRACE(std::string(entry.name));
        HWND child = ctl(entry.name);
        const std::wstring caption = toWide(entry.caption);
        HDC dc = GetDC(child);
        const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        SIZE extent{};
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
        SelectObject(dc, previous);
        ReleaseDC(child, dc);

        RECT client{};
        GetClientRect(child, &client);
        int room = client.right;
        if (entry.kind == app::ControlKind::Button)
            room -= 2 * GetSystemMetrics(SM_CXEDGE);
        else if (entry.kind == app::ControlKind::CheckBox)
            room -= GetSystemMetrics(SM_CXMENUCHECK);
        // A label sizing itself always fits itself; what matters is the room it was designed with.
        if (entry.autoSize)
            room = std::min(room, app::twipsToPixels(entry.width, dpi));
        EXPECT_GT(extent.cx, 0);
        EXPECT_LE(extent.cx, room);
    }
}

TEST_F(Win32Window, FixedDialogFrameWithCloseBoxAndNoTaskbarButton) {
    start();
    HWND main = window->handle();
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(main, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(main, GWL_EXSTYLE));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    HWND owner = GetWindow(main, GW_OWNER);
    ASSERT_TRUE(owner);
    EXPECT_FALSE(IsWindowVisible(owner));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_EQ(GetMenu(main), nullptr);

    HMENU system = GetSystemMenu(main, FALSE);
    ASSERT_TRUE(system);
    EXPECT_NE(GetMenuState(system, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
        EXPECT_EQ(GetMenuState(system, command, MF_BYCOMMAND), static_cast<UINT>(-1)) << command;

    // A plain-text password box.
    EXPECT_FALSE(GetWindowLongPtrW(ctl("changePassword"), GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(SendMessageW(ctl("changePassword"), EM_GETPASSWORDCHAR, 0, 0), 0);
    // No default button anywhere.
    for (const app::ControlSpec& entry : app::kControls) {
        if (entry.kind == app::ControlKind::Button) {
            EXPECT_NE(GetWindowLongPtrW(ctl(entry.name), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << entry.name;
        }
    }
}

TEST_F(Win32Window, IconsAreDrawnForTheMonitorsDpi) {
    start();
    const auto width = [this](WPARAM which) {
        ICONINFO info{};
        BITMAP bitmap{};
        GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window->handle(), WM_GETICON, which, 0)), &info);
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap); // fails, leaving 0, when there is no icon
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return bitmap.bmWidth;
    };
    for (const int dpi : {144, 192, 96}) {
        RECT suggested{};
        GetWindowRect(window->handle(), &suggested);
        SendMessageW(window->handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(width(ICON_BIG), MulDiv(32, dpi, 96)) << dpi;
        EXPECT_EQ(width(ICON_SMALL), MulDiv(16, dpi, 96)) << dpi;
    }
}

TEST_F(Win32Window, TabKeyWalksTheTabIndexOrderAndWrapsAround) {
    start();
    std::vector<std::string> expected;
    for (const app::ControlSpec* entry : app::tabOrder())
        if (entry->kind != app::ControlKind::Label && entry->kind != app::ControlKind::Frame)
            expected.push_back(std::string(entry->name));
    ASSERT_EQ(expected.front(), "trgSrv");

    const auto focusedName = [this]() -> std::string {
        HWND focus = GetFocus();
        for (const app::ControlSpec& entry : app::kControls)
            if (ctl(entry.name) == focus || IsChild(ctl(entry.name), focus))
                return std::string(entry.name);
        return "(none)";
    };
    SetForegroundWindow(window->handle());
    pump();
    std::vector<std::string> visited{focusedName()};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        key(GetFocus(), VK_TAB);
        visited.push_back(focusedName());
    }
    expected.push_back(expected.front());
    EXPECT_EQ(visited, expected);
}

TEST_F(Win32Window, LoadedFormIsShownAndCommandLineAccountLookedUp) {
    start("jdoe");
    EXPECT_EQ(toUtf8(textOf(window->handle())), "Quillmarsh 1.0.0");
    EXPECT_EQ(text("trgSrv"), "CORP");
    EXPECT_EQ(text("AccountLimit"), "2026/12/8");
    EXPECT_EQ(text("account_Combo"), "jdoe");
    EXPECT_EQ(text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(text("changePassword"), "jdoe");
    HWND combo = ctl("account_Combo");
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
    std::vector<std::string> items;
    for (int i = 0; i < 3; ++i) {
        wchar_t item[32] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        items.push_back(toUtf8(item));
    }
    EXPECT_EQ(items, (std::vector<std::string>{"jdoe", "amy", "bob"}));
    EXPECT_EQ(lookups("jdoe"), 1u);
}

TEST_F(Win32Window, TypingRaisesOneChangePerKeystroke) {
    start();
    HWND edit = window->comboEdit();
    ASSERT_TRUE(edit);
    SetFocus(edit);
    for (wchar_t c : std::wstring(L"jdoe"))
        typeChar(edit, c);
    EXPECT_EQ(lookups("j"), 1u);
    EXPECT_EQ(lookups("jd"), 1u);
    EXPECT_EQ(lookups("jdo"), 1u);
    EXPECT_EQ(lookups("jdoe"), 1u);
    EXPECT_EQ(text("DisplayCondition"), "営業部 有効");
    EXPECT_EQ(text("changePassword"), "jdoe");

    typeChar(edit, L'\b');
    EXPECT_EQ(lookups("jdo"), 2u);
    EXPECT_EQ(module->form().text("account_Combo"), "jdo");
    EXPECT_EQ(text("DisplayCondition"), "");
}

TEST_F(Win32Window, PastingRaisesOneChange) {
    start();
    HWND edit = window->comboEdit();
    ASSERT_TRUE(OpenClipboard(window->handle()));
    EmptyClipboard();
    const std::wstring pasted = L"amy";
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(memory), pasted.c_str(), (pasted.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    ASSERT_TRUE(SetClipboardData(CF_UNICODETEXT, memory));
    CloseClipboard();

    SetFocus(edit);
    SendMessageW(edit, WM_PASTE, 0, 0);
    pump();
    EXPECT_EQ(lookups("amy"), 1u);
    EXPECT_EQ(dir.count("bind WinNT://CORP/"), 1u);
    EXPECT_EQ(text("DisplayCondition"), " 有効");
    EXPECT_EQ(text("changePassword"), "amy");
}

TEST_F(Win32Window, SettingTheTextRaisesOneChangeAndTheSameTextNone) {
    start();
    SetWindowTextW(ctl("account_Combo"), L"bob");
    pump();
    EXPECT_EQ(lookups("bob"), 1u);
    EXPECT_EQ(text("DisplayCondition"), " 有効 ロック");
    SetWindowTextW(ctl("account_Combo"), L"bob");
    SendMessageW(window->comboEdit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"bob"));
    pump();
    EXPECT_EQ(lookups("bob"), 1u);
    SendMessageW(window->comboEdit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"amy"));
    pump();
    EXPECT_EQ(lookups("amy"), 1u);
}

TEST_F(Win32Window, PaddedTextIsTrimmedInTheBoxWithoutAnEcho) {
    start();
    SetWindowTextW(ctl("account_Combo"), L" jdoe ");
    pump();
    // The inner run and the outer one: two lookups of the trimmed name, none of the padded one.
    EXPECT_EQ(lookups("jdoe"), 2u);
    EXPECT_EQ(lookups(" jdoe "), 0u);
    EXPECT_EQ(text("account_Combo"), "jdoe");
    EXPECT_EQ(text("changePassword"), "jdoe");
    EXPECT_EQ(text("DisplayCondition"), "営業部 有効");
}

TEST_F(Win32Window, ChoosingAnItemRaisesChangeAndClickOnce) {
    start();
    HWND edit = window->comboEdit();
    SetFocus(edit);
    key(edit, VK_DOWN); // the first item
    EXPECT_EQ(text("account_Combo"), "jdoe");
    EXPECT_EQ(module->form().text("account_Combo"), "jdoe");
    EXPECT_EQ(lookups("jdoe"), 2u); // Change, then Click
    EXPECT_EQ(text("changePassword"), "jdoe");
    key(edit, VK_DOWN);
    EXPECT_EQ(text("account_Combo"), "amy");
    EXPECT_EQ(lookups("amy"), 2u);
    EXPECT_EQ(lookups("jdoe"), 2u);
}

TEST_F(Win32Window, TextBoxEditsReachTheForm) {
    start();
    SetFocus(ctl("trgSrv"));
    SendMessageW(ctl("trgSrv"), EM_SETSEL, 0, -1);
    for (wchar_t c : std::wstring(L"SRV"))
        typeChar(ctl("trgSrv"), c);
    EXPECT_EQ(module->form().text("trgSrv"), "SRV");
    SetWindowTextW(ctl("changePassword"), L"新しいPass1");
    pump();
    EXPECT_EQ(module->form().text("changePassword"), "新しいPass1");
}

TEST_F(Win32Window, EnterAndEscapePressNothingWhileSpacePressesTheFocusedButton) {
    start("bob");
    const std::size_t callsAfterLoad = dir.log.size();
    for (std::string_view name : {"Command1", "Command2", "アカウント有効", "アカウント停止", "Check1", "trgSrv",
                                  "changePassword", "AccountLimit"}) {
        SCOPED_TRACE(std::string(name));
        SetFocus(ctl(name));
        for (UINT k : {VK_RETURN, VK_ESCAPE}) {
            key(GetFocus(), k);
            typeChar(GetFocus(), static_cast<wchar_t>(k));
        }
    }
    SetFocus(window->comboEdit());
    key(window->comboEdit(), VK_RETURN);
    key(window->comboEdit(), VK_ESCAPE);
    EXPECT_TRUE(person.shown.empty());
    EXPECT_EQ(dir.log.size(), callsAfterLoad);
    EXPECT_EQ(module->form().value("Check1"), 0);
    EXPECT_TRUE(IsWindow(window->handle()));

    // The same key path does press a button with the space bar.
    SetFocus(ctl("Command1"));
    key(ctl("Command1"), VK_SPACE);
    ASSERT_EQ(person.shown.size(), 1u);
    EXPECT_EQ(person.shown[0].text, "解除されました。");
}

struct ButtonRow {
    const char* name;
    const char* button;
    std::vector<int> answers;
    std::vector<fakes::ShownBox> boxes;
    const char* write; // the directory write the flow makes, or none at all
    std::size_t commits;
};

// Rows print as their names in test listings.
void PrintTo(const ButtonRow& row, std::ostream* out) {
    *out << row.name;
}

class ButtonFlow : public Win32Window, public testing::WithParamInterface<ButtonRow> {};

TEST_P(ButtonFlow, ClickRunsTheHandlerWithItsBoxes) {
    start("bob");
    person.answers.assign(GetParam().answers.begin(), GetParam().answers.end());
    click(GetParam().button);
    EXPECT_EQ(person.shown, GetParam().boxes);
    EXPECT_EQ(dir.count("SetInfo"), GetParam().commits);
    if (GetParam().write) {
        EXPECT_EQ(dir.count(GetParam().write), 1u);
    } else {
        EXPECT_EQ(dir.count("bind"), 2u); // the list and the command line's lookup at start
    }
    EXPECT_EQ(person.busyDepth, 0);
    EXPECT_FALSE(window->failed());
}

const std::string kResetPrompt =
    "パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\r\nよろしいですか？";
const std::string kStopPrompt = "アカウントを停止すると、利用できなくなります。\r\nよろしいですか？";

INSTANTIATE_TEST_SUITE_P(
    Buttons, ButtonFlow,
    testing::Values(
        ButtonRow{"Unlock", "Command1", {}, {{"解除されました。", 0, std::nullopt}}, "put IsAccountLocked=false", 1},
        ButtonRow{"ResetConfirmedTwice",
                  "Command2",
                  {mb::kAnswerYes, mb::kAnswerYes},
                  {{kResetPrompt, 0x34, "パスワードリセットの確認"},
                   {"bob のパスワードをリセットします。よろしいですか？", 0x34, std::nullopt},
                   {"解除/パスワードリセットされました。", 0, std::nullopt}},
                  "SetPassword",
                  2},
        ButtonRow{"ResetDeclined",
                  "Command2",
                  {mb::kAnswerNo},
                  {{kResetPrompt, 0x34, "パスワードリセットの確認"}},
                  nullptr,
                  0},
        ButtonRow{"EnableUntilTomorrow",
                  "アカウント有効",
                  {},
                  {{"2026/12/8 迄 利用可能になりました。", 0x40, std::nullopt}},
                  "put AccountDisabled=false",
                  2},
        ButtonRow{"StopConfirmed",
                  "アカウント停止",
                  {mb::kAnswerYes},
                  {{kStopPrompt, 0x34, "停止の確認"}, {"アカウントを停止しました。", 0x40, std::nullopt}},
                  "put AccountDisabled=true",
                  1},
        ButtonRow{"StopDeclined", "アカウント停止", {mb::kAnswerNo}, {{kStopPrompt, 0x34, "停止の確認"}}, nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Win32Window, CheckBoxTogglesTheDateBoxAndEnablingThenHasNoLimit) {
    start("bob");
    click("Check1");
    EXPECT_EQ(SendMessageW(ctl("Check1"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(module->form().value("Check1"), 1);
    EXPECT_FALSE(IsWindowEnabled(ctl("AccountLimit")));
    EXPECT_EQ(text("AccountLimit"), "2026/12/8");

    click("アカウント有効");
    ASSERT_EQ(person.shown.size(), 1u);
    EXPECT_EQ(person.shown[0], (fakes::ShownBox{"アカウントは無期限に有効となりました。", 0x40, std::nullopt}));
    EXPECT_EQ(dir.account("CORP", "bob").expiration, directory::Value::int32(1));

    click("Check1");
    EXPECT_EQ(SendMessageW(ctl("Check1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(IsWindowEnabled(ctl("AccountLimit")));
}

// The text is a date exactly when the provider's own conversion (VarDateFromStr, the user's locale)
// takes it as one; docs/verifying-on-windows.md lists the rows Windows must confirm.
TEST_F(Win32Window, ExpiryTextIsUsedAsTypedWhenTheJapaneseLocaleReadsADateElseNoLimit) {
    ASSERT_EQ(GetUserDefaultLCID(), 0x411u) << "needs the Japanese locale, as tests/run-win32.sh sets it";
    start("bob");
    const struct {
        const char* name;
        std::string text;
        bool dateUsed;
    } rows[] = {{"ProposedTomorrow", "2026/12/8", true},
                {"TwoDigitYear", "26/12/9", true},
                {"WithTimeOfDay", "2026/12/9 17:00", true},
                {"MonthAndDayOnly", "12/9", true},
                {"TimeOnly", "17:00", true},
                {"DotsBetweenParts", "2026.12.9", false},
                {"ImpossibleDay", "2025/2/30", false},
                {"KanjiYearMonthDay", "2027年1月25日", false},
                {"FullWidthDigits", "２０２７/１/２５", false},
                {"Empty", "", false}};
    for (const auto& row : rows) {
        SetWindowTextW(ctl("AccountLimit"), toWide(row.text).c_str());
        click("アカウント有効");
        EXPECT_EQ(dir.account("CORP", "bob").expiration,
                  row.dateUsed ? directory::Value::text(row.text) : directory::Value::int32(1))
            << row.name;
    }
}

TEST_F(Win32Window, EscapedErrorIsReportedAndEndsTheLoopWithFailure) {
    start();
    SetWindowTextW(ctl("trgSrv"), L"  ");
    pump();
    computer.fail = true;
    SendMessageW(ctl("Command1"), BM_CLICK, 0, 0);
    ASSERT_EQ(person.escaped.size(), 1u);
    EXPECT_EQ(person.escaped[0].first, static_cast<long>(0x80041003L));
    EXPECT_TRUE(window->failed());
    EXPECT_EQ(window->run(), app::kEscapedErrorExitStatus);
    // Nothing more runs once the program is ending.
    SendMessageW(ctl("Command1"), BM_CLICK, 0, 0);
    EXPECT_TRUE(person.shown.empty());
}

TEST_F(Win32Window, ClosingTheWindowEndsTheLoopWithSuccess) {
    start();
    PostMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window->run(), 0);
    EXPECT_EQ(window->handle(), nullptr);
}

// Forwards the pointer to the real operator; answers questions itself so no box blocks a test.
class BusyRecorder final : public quill::Operator {
public:
    explicit BusyRecorder(quill::win32::Win32Operator& real) : m_real(real) {}
    int messageBox(const std::string&, int, const std::optional<std::string>&) override { return mb::kAnswerYes; }
    void setBusy(bool busy) override {
        switches.push_back(busy);
        m_real.setBusy(busy);
        if (busy)
            cursorWhileBusy = GetCursor();
    }
    void reportEscapedError(long, const std::string&) override {}
    std::vector<bool> switches;
    HCURSOR cursorWhileBusy = nullptr;

private:
    quill::win32::Win32Operator& m_real;
};

TEST_F(Win32Window, HourglassWhileBusyAndTheArrowAfterwards) {
    quill::win32::Win32Operator real;
    BusyRecorder recorder(real);
    start("", &recorder, &real);
    const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);

    SetWindowTextW(ctl("account_Combo"), L"jdoe");
    pump();
    EXPECT_EQ(recorder.switches, (std::vector<bool>{true, false}));
    EXPECT_EQ(recorder.cursorWhileBusy, wait);
    EXPECT_FALSE(real.busy());
    EXPECT_EQ(GetCursor(), arrow);

    // The window keeps the hourglass up against WM_SETCURSOR while busy.
    real.setBusy(true);
    SendMessageW(window->handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(ctl("trgSrv")),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), wait);
    real.setBusy(false);
    EXPECT_EQ(GetCursor(), arrow);
}

// Answers the real message boxes in order, each once it has stayed open half a second (time for
// queued input to answer it first), and notes their texts; boxes past the script get No or OK.
void answerBoxes(std::vector<WPARAM> buttons, std::vector<std::string>& shown, const std::atomic<bool>& done) {
    for (std::size_t i = 0; !done; Sleep(20)) {
        HWND box = FindWindowW(L"#32770", nullptr);
        if (!box)
            continue;
        Sleep(500);
        wchar_t text[512] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 512);
        shown.push_back(toUtf8(text));
        for (const WPARAM button : i < buttons.size() ? std::vector{buttons[i]} : std::vector<WPARAM>{IDNO, IDOK})
            PostMessageW(box, WM_COMMAND, button, 0);
        for (++i; IsWindow(box);)
            Sleep(20);
    }
}

// A key (and a click) given while a directory call blocked the window never answers the question
// that opens afterwards: the answer given to the box itself, later, is the one that counts.
TEST_F(Win32Window, InputQueuedDuringADirectoryCallNeverAnswersTheNextBox) {
    quill::win32::Win32Operator real;
    start("bob", &real, &real);
    const std::vector<std::string> resetFlow{kResetPrompt, "bob のパスワードをリセットします。よろしいですか？",
                                             "○ロック解除完了/×パスワードリセット未完了"};
    const struct {
        const char* slowCall;
        bool clickQueued; // with the key, while the typed name is looked up; else the click starts the slow call
        const char* button;
        BYTE key;
        std::vector<WPARAM> answers;
        std::vector<std::string> boxes;
    } rows[] = {{"put IsAccountLocked", false, "Command2", VK_RETURN, {IDYES, IDNO, IDOK}, resetFlow},
                {"put IsAccountLocked", false, "Command2", VK_SPACE, {IDYES, IDNO, IDOK}, resetFlow},
                {"get Description", true, "アカウント停止", VK_RETURN, {IDNO}, {kStopPrompt}},
                {"put IsAccountLocked", false, "Command1", VK_RETURN, {IDOK}, {"解除されました。"}}};
    SetForegroundWindow(window->handle());
    pump();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.button << " key " << int{row.key});
        bool typed = false;
        dir.duringCall = [&](const std::string& line) {
            if (typed || line.rfind(row.slowCall, 0) != 0)
                return;
            typed = true;
            if (row.clickQueued)
                PostMessageW(ctl(row.button), BM_CLICK, 0, 0);
            keybd_event(row.key, 0, 0, 0);
            keybd_event(row.key, 0, KEYEVENTF_KEYUP, 0);
            Sleep(200); // a slow call: the keys reach the queue meanwhile
        };
        std::vector<std::string> shown;
        std::atomic<bool> done{false};
        std::thread answerer(answerBoxes, row.answers, std::ref(shown), std::cref(done));
        if (row.clickQueued)
            SetWindowTextW(window->comboEdit(), L"bob ");
        else
            SendMessageW(ctl(row.button), BM_CLICK, 0, 0);
        pump();
        done = true;
        answerer.join();
        EXPECT_TRUE(typed);
        EXPECT_EQ(shown, row.boxes);
        EXPECT_TRUE(!dir.account("CORP", "bob").disabled && dir.account("CORP", "bob").password.empty());
    }
}

struct OutsideTextRow {
    const char* name;
    const char* control;
    const wchar_t* text;
    const char* button;
    std::vector<int> answers;
    const char* firstBox;
    std::function<void(fakes::FakeDirectory&)> check;
};

void PrintTo(const OutsideTextRow& row, std::ostream* out) {
    *out << row.name;
}

class OutsideText : public Win32Window, public testing::WithParamInterface<OutsideTextRow> {};

// Text set by another program with WM_SETTEXT, as UI Automation's value pattern does, is what the
// form holds and what the next button acts on.
TEST_P(OutsideText, ReachesTheFormOnceAndTheButtonActsOnIt) {
    const OutsideTextRow& row = GetParam();
    dir.account("OTHER", "bob").locked = true;
    start("bob");
    person.answers.assign(row.answers.begin(), row.answers.end());
    const std::string control = row.control;
    HWND target = control == "account_Combo" ? window->comboEdit() : ctl(control);
    fromOutside([&] { SendMessageW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(row.text)); });
    EXPECT_EQ(module->form().text(control), toUtf8(row.text));
    if (control == "account_Combo") {
        EXPECT_EQ(lookups(toUtf8(row.text)), 1u);
        EXPECT_EQ(text("changePassword"), toUtf8(row.text));
    }

    click(row.button);
    ASSERT_FALSE(person.shown.empty());
    EXPECT_EQ(person.shown.back().text, row.firstBox);
    row.check(dir);
}

INSTANTIATE_TEST_SUITE_P(Outside, OutsideText,
                         testing::Values(OutsideTextRow{"AccountBox",
                                                        "account_Combo",
                                                        L"jdoe",
                                                        "アカウント停止",
                                                        {mb::kAnswerYes},
                                                        "アカウントを停止しました。",
                                                        [](fakes::FakeDirectory& d) {
                                                            EXPECT_TRUE(d.account("CORP", "jdoe").disabled);
                                                            EXPECT_FALSE(d.account("CORP", "bob").disabled);
                                                        }},
                                         OutsideTextRow{"PasswordBox",
                                                        "changePassword",
                                                        L"N3w-秘密",
                                                        "Command2",
                                                        {mb::kAnswerYes, mb::kAnswerYes},
                                                        "解除/パスワードリセットされました。",
                                                        [](fakes::FakeDirectory& d) {
                                                            EXPECT_EQ(d.account("CORP", "bob").password, "N3w-秘密");
                                                        }},
                                         OutsideTextRow{"TargetBox",
                                                        "trgSrv",
                                                        L"OTHER",
                                                        "Command1",
                                                        {},
                                                        "解除されました。",
                                                        [](fakes::FakeDirectory& d) {
                                                            EXPECT_FALSE(d.account("OTHER", "bob").locked);
                                                            EXPECT_TRUE(d.account("CORP", "bob").locked);
                                                        }},
                                         OutsideTextRow{"ExpiryBox",
                                                        "AccountLimit",
                                                        L"2027/3/1",
                                                        "アカウント有効",
                                                        {},
                                                        "2027/3/1 迄 利用可能になりました。",
                                                        [](fakes::FakeDirectory& d) {
                                                            EXPECT_EQ(d.account("CORP", "bob").expiration,
                                                                      directory::Value::text("2027/3/1"));
                                                        }}),
                         [](const auto& info) { return std::string(info.param.name); });

// An item chosen by another program (CB_SETCURSEL, with or without the notification a list
// selection sends) is the account shown, looked up and acted on.
TEST_F(Win32Window, ItemChosenFromOutsideIsTheAccountActedOn) {
    for (const bool notify : {false, true}) {
        SCOPED_TRACE(notify ? "with CBN_SELCHANGE" : "CB_SETCURSEL alone");
        start(notify ? "jdoe" : "amy");
        HWND combo = ctl("account_Combo");
        fromOutside([&] {
            SendMessageW(combo, CB_SETCURSEL, 2, 0); // bob
            if (notify)
                SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo));
        });
        EXPECT_EQ(text("account_Combo"), "bob");
        EXPECT_EQ(module->form().text("account_Combo"), "bob");
        EXPECT_EQ(lookups("bob"), notify ? 2u : 1u); // Change, and Click when the list said so
        EXPECT_EQ(text("DisplayCondition"), " 有効 ロック");

        click("Command1");
        EXPECT_FALSE(dir.account("CORP", "bob").locked);
        dir.account("CORP", "bob").locked = true;
        dir.log.clear();
        person.shown.clear();
        window.reset();
        pump();
    }
}

enum class Toggle { SetCheckThenNotify, DefaultAction, SetCheckAlone };

struct OutsideCheckRow {
    const char* name;
    bool tickedBefore;
    Toggle how;
    bool tickedAfter;
};

void PrintTo(const OutsideCheckRow& row, std::ostream* out) {
    *out << row.name;
}

class OutsideCheck : public Win32Window, public testing::WithParamInterface<OutsideCheckRow> {};

// However another program ticks or unticks 無期限, the window acts on what the box shows.
TEST_P(OutsideCheck, EnablingActsOnWhatTheBoxShows) {
    const OutsideCheckRow& row = GetParam();
    start("bob");
    if (row.tickedBefore)
        click("Check1");
    HWND box = ctl("Check1");
    bool byAccessibility = false;
    const WPARAM state = row.tickedAfter ? BST_CHECKED : BST_UNCHECKED;
    fromOutside([&] {
        switch (row.how) {
        case Toggle::SetCheckThenNotify:
            SendMessageW(box, BM_SETCHECK, state, 0);
            SendMessageW(GetParent(box), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), BN_CLICKED),
                         reinterpret_cast<LPARAM>(box));
            break;
        case Toggle::DefaultAction: {
            // MSAA's default action where wine offers it, else the click it stands for.
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            IAccessible* accessible = nullptr;
            VARIANT self{};
            self.vt = VT_I4;
            self.lVal = CHILDID_SELF;
            const bool done =
                SUCCEEDED(AccessibleObjectFromWindow(box, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                     reinterpret_cast<void**>(&accessible))) &&
                SUCCEEDED(accessible->accDoDefaultAction(self));
            if (accessible)
                accessible->Release();
            CoUninitialize();
            byAccessibility = done;
            if (!done)
                SendMessageW(box, BM_CLICK, 0, 0);
            break;
        }
        case Toggle::SetCheckAlone:
            SendMessageW(box, BM_SETCHECK, state, 0);
            break;
        }
    });
    if (row.how == Toggle::DefaultAction)
        RecordProperty("toggledBy", byAccessibility ? "accDoDefaultAction" : "BM_CLICK");
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), static_cast<LRESULT>(state));
    EXPECT_EQ(module->form().value("Check1"), row.tickedAfter ? 1 : 0);
    EXPECT_EQ(IsWindowEnabled(ctl("AccountLimit")) != FALSE, !row.tickedAfter);

    click("アカウント有効");
    ASSERT_EQ(person.shown.size(), 1u);
    EXPECT_EQ(person.shown[0].text,
              row.tickedAfter ? "アカウントは無期限に有効となりました。" : "2026/12/8 迄 利用可能になりました。");
    EXPECT_EQ(dir.account("CORP", "bob").expiration,
              row.tickedAfter ? directory::Value::int32(1) : directory::Value::text("2026/12/8"));
}

INSTANTIATE_TEST_SUITE_P(
    Outside, OutsideCheck,
    testing::Values(OutsideCheckRow{"TickedThenNotified", false, Toggle::SetCheckThenNotify, true},
                    OutsideCheckRow{"TickedAgainThenNotified", true, Toggle::SetCheckThenNotify, true},
                    OutsideCheckRow{"UntickedThenNotified", true, Toggle::SetCheckThenNotify, false},
                    OutsideCheckRow{"TickedByDefaultAction", false, Toggle::DefaultAction, true},
                    OutsideCheckRow{"UntickedByDefaultAction", true, Toggle::DefaultAction, false},
                    OutsideCheckRow{"TickedWithoutNotice", false, Toggle::SetCheckAlone, true},
                    OutsideCheckRow{"UntickedWithoutNotice", true, Toggle::SetCheckAlone, false}),
    [](const auto& info) { return std::string(info.param.name); });

// What the logic writes into the widgets is shown, never taken back as the person's input.
TEST_F(Win32Window, FormWritesAreShownWithoutComingBackAsInput) {
    start();
    module->form().setText("account_Combo", "amy");
    pump();
    EXPECT_EQ(text("account_Combo"), "amy");
    EXPECT_EQ(lookups("amy"), 1u); // one Change, no Click from the list
    EXPECT_EQ(text("changePassword"), "amy");

    module->form().setValue("Check1", 1);
    pump();
    EXPECT_EQ(SendMessageW(ctl("Check1"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(IsWindowEnabled(ctl("AccountLimit"))); // no Click ran
}

} // namespace
