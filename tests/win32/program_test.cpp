#include <windows.h>

#include <gtest/gtest.h>

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
    HWND box;
};

BOOL CALLBACK findBox(HWND window, LPARAM state) {
    auto* search = reinterpret_cast<Search*>(state);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (owner == search->process && std::wstring(className) == L"#32770" && IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectText(HWND child, LPARAM text) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") == 0) {
        wchar_t buffer[512] = {};
        GetWindowTextW(child, buffer, 512);
        *reinterpret_cast<std::wstring*>(text) += buffer;
    }
    return TRUE;
}

// The text of the program's next message box, which then gets this answer; empty when none opened.
std::wstring answerBox(const PROCESS_INFORMATION& process, WPARAM answer) {
    Search search{process.dwProcessId, nullptr};
    for (int i = 0; i < 300 && !search.box; ++i) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            break;
        EnumWindows(&findBox, reinterpret_cast<LPARAM>(&search));
    }
    std::wstring text;
    if (search.box)
        EnumChildWindows(search.box, &collectText, reinterpret_cast<LPARAM>(&text));
    PostMessageW(search.box, WM_COMMAND, answer, 0);
    for (int i = 0; i < 100 && IsWindow(search.box); ++i)
        Sleep(50);
    return text;
}

// The real program here: WMI reports a workgroup, and wine has no WinNT provider, so neither the
// workgroup's container nor this computer's own accounts answer. The window opens with an empty
// list all the same, every button reports its failure in its own words, and nothing ends it.
TEST(Program, WorkgroupComputerWithoutItsDirectoryOpensAndEveryButtonReportsFailure) {
    const wchar_t* const kProgram = program();
    std::wstring commandLine = std::wstring(L"\"") + kProgram + L"\" jdoe extra";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessW(kProgram, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    HWND window = nullptr;
    for (int i = 0; i < 200 && !IsWindowVisible(window = FindWindowW(L"Quillmarsh.LockOpener", nullptr)); ++i)
        Sleep(100);
    ASSERT_TRUE(IsWindowVisible(window)) << "the window did not open";
    // Another process's edit box answers GetWindowText with the text it was created with.
    wchar_t typed[64] = {};
    HWND combo = FindWindowExW(window, nullptr, L"ComboBox", nullptr);
    SendMessageTimeoutW(combo, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(typed), SMTO_ABORTIFHUNG, 5000, nullptr);
    EXPECT_STREQ(typed, L"jdoe extra");
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);

    const std::wstring question = L"\r\nよろしいですか？";
    const std::pair<const wchar_t*, std::vector<std::pair<std::wstring, WPARAM>>> clicks[] = {
        {L"ロック解除", {{L"解除されませんでした。", IDOK}}},
        {L"ロック解除/パスワードリセット",
         {{L"パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。" + question, IDYES},
          {L"作業を完了できませんでした。", IDOK}}},
        {L"アカウント有効", {{L"アカウントを有効にできませんでした。", IDOK}}},
        {L"アカウント停止",
         {{L"アカウントを停止すると、利用できなくなります。" + question, IDYES},
          {L"アカウントを停止できませんでした。", IDOK}}}};
    for (const auto& [caption, boxes] : clicks) {
        PostMessageW(FindWindowExW(window, nullptr, L"Button", caption), BM_CLICK, 0, 0);
        for (const auto& [text, answer] : boxes)
            EXPECT_EQ(answerBox(process, answer), text);
    }

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
