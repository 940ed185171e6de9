#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The built program, or the one QUILL_PROGRAM names (the installer's test points it at the
// installed copy).
const wchar_t* program() {
    const wchar_t* chosen = _wgetenv(L"QUILL_PROGRAM");
    return chosen && *chosen ? chosen : QUILL_EXE_PATH;
}

struct Search {
    DWORD process;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK findWindow(HWND window, LPARAM state) {
    auto* search = reinterpret_cast<Search*>(state);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner == search->process && std::wstring(className) == search->className && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectText(HWND child, LPARAM texts) {
    // Another process's edit boxes answer GetWindowText with their creation text: ask them.
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &copied);
    reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(buffer);
    return TRUE;
}

std::vector<std::wstring> childTexts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(window, &collectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// A visible window of this class in the process, waited for up to 20 s; null if the process ended.
HWND waitForWindow(HANDLE process, DWORD id, const wchar_t* className) {
    Search search{id, className, nullptr};
    for (int i = 0; i < 200 && !search.found; ++i) {
        EnumWindows(&findWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found && WaitForSingleObject(process, 100) == WAIT_OBJECT_0)
            break;
    }
    return search.found;
}

struct Box {
    const wchar_t* text;
    WPARAM answer;
};

// The real program here: WMI reports a workgroup, and wine has no WinNT provider, so neither the
// workgroup's container nor this computer's own accounts answer. The window opens with an empty
// list all the same, and every button reports its failure in its own words.
TEST(Program, WorkgroupComputerWithoutItsDirectoryOpensAndEveryButtonReportsFailure) {
    const wchar_t* const kProgram = program();
    std::wstring commandLine = std::wstring(L"\"") + kProgram + L"\" jdoe extra";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessW(kProgram, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);

    HWND window = waitForWindow(process.hProcess, process.dwProcessId, L"Quillmarsh.LockOpener");
    ASSERT_TRUE(window) << "the window did not open";
    HWND combo = FindWindowExW(window, nullptr, L"ComboBox", nullptr);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    const auto texts = childTexts(window);
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::wstring(name) + L"."), texts.end()) << "trgSrv";
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"jdoe extra"), texts.end()) << "account_Combo";

    const std::vector<std::pair<const wchar_t*, std::vector<Box>>> clicks{
        {L"ロック解除", {{L"解除されませんでした。", IDOK}}},
        {L"ロック解除/パスワードリセット",
         {{L"パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。\r\nよろしいですか？", IDYES},
          {L"作業を完了できませんでした。", IDOK}}},
        {L"アカウント有効", {{L"アカウントを有効にできませんでした。", IDOK}}},
        {L"アカウント停止",
         {{L"アカウントを停止すると、利用できなくなります。\r\nよろしいですか？", IDYES},
          {L"アカウントを停止できませんでした。", IDOK}}},
        {L"無期限", {}},
    };
    for (const auto& [caption, boxes] : clicks) {
        SCOPED_TRACE(testing::Message() << "button " << caption);
        HWND button = FindWindowExW(window, nullptr, L"Button", caption);
        ASSERT_TRUE(button);
        PostMessageW(button, BM_CLICK, 0, 0);
        for (const Box& expected : boxes) {
            HWND box = waitForWindow(process.hProcess, process.dwProcessId, L"#32770");
            ASSERT_TRUE(box) << "no box for " << expected.text;
            const auto shown = childTexts(box);
            EXPECT_NE(std::find(shown.begin(), shown.end(), expected.text), shown.end()) << expected.text;
            PostMessageW(box, WM_COMMAND, expected.answer, 0);
            for (int i = 0; i < 100 && IsWindow(box); ++i)
                Sleep(50);
        }
    }
    // The tick reached the window: the date box, and only it, is off.
    int disabledBoxes = 0;
    for (int i = 0; i < 100 && disabledBoxes == 0; ++i, Sleep(50))
        for (HWND edit = nullptr; (edit = FindWindowExW(window, edit, L"Edit", nullptr));)
            disabledBoxes += IsWindowEnabled(edit) ? 0 : 1;
    EXPECT_EQ(disabledBoxes, 1);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program ended";

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
