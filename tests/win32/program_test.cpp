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

// A visible window of this class in the process, waited for up to 20 s; null when none came.
HWND waitForWindow(DWORD process, const wchar_t* className) {
    struct Search {
        DWORD process;
        const wchar_t* className;
        HWND found;
    } search{process, className, nullptr};
    for (int i = 0; i < 200 && !search.found; ++i, Sleep(100))
        EnumWindows(
            [](HWND window, LPARAM state) {
                auto* search = reinterpret_cast<Search*>(state);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                wchar_t name[64] = {};
                GetClassNameW(window, name, 64);
                if (owner == search->process && std::wstring(name) == search->className && IsWindowVisible(window))
                    search->found = window;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The texts of a window's children, asked of them: another process's edit boxes answer
// GetWindowText with the text they were created with.
std::vector<std::wstring> childTexts(HWND window) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[512] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
        texts.push_back(text);
    }
    return texts;
}

bool holds(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The real program here: WMI reports a workgroup, and wine has no WinNT provider, so neither the
// workgroup's container nor this computer's own accounts answer. The window opens with an empty
// list all the same, every button reports its failure in its own words, and nothing ends it.
TEST(Program, WorkgroupComputerWithoutItsDirectoryOpensAndEveryButtonReportsFailure) {
    std::wstring commandLine = std::wstring(L"\"") + program() + L"\" jdoe extra";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(program(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    CloseHandle(process.hThread);
    HWND window = waitForWindow(process.dwProcessId, L"Quillmarsh.LockOpener");
    ASSERT_TRUE(window) << "the window did not open";
    EXPECT_EQ(SendMessageW(FindWindowExW(window, nullptr, L"ComboBox", nullptr), CB_GETCOUNT, 0, 0), 0);
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    EXPECT_TRUE(holds(childTexts(window), std::wstring(name) + L".")) << "the target box";
    EXPECT_TRUE(holds(childTexts(FindWindowExW(window, nullptr, L"ComboBox", nullptr)), L"jdoe extra"));

    const std::wstring question = L"\r\nよろしいですか？";
    const std::vector<std::pair<const wchar_t*, std::vector<std::pair<std::wstring, WPARAM>>>> clicks{
        {L"ロック解除", {{L"解除されませんでした。", IDOK}}},
        {L"ロック解除/パスワードリセット",
         {{L"パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。" + question, IDYES},
          {L"作業を完了できませんでした。", IDOK}}},
        {L"アカウント有効", {{L"アカウントを有効にできませんでした。", IDOK}}},
        {L"アカウント停止",
         {{L"アカウントを停止すると、利用できなくなります。" + question, IDYES},
          {L"アカウントを停止できませんでした。", IDOK}}},
        {L"無期限", {}}};
    for (const auto& [caption, boxes] : clicks) {
        PostMessageW(FindWindowExW(window, nullptr, L"Button", caption), BM_CLICK, 0, 0);
        for (const auto& [text, answer] : boxes) {
            HWND box = waitForWindow(process.dwProcessId, L"#32770");
            ASSERT_TRUE(box) << "no box for " << text;
            EXPECT_TRUE(holds(childTexts(box), text)) << text;
            PostMessageW(box, WM_COMMAND, answer, 0);
            for (int i = 0; i < 100 && IsWindow(box); ++i)
                Sleep(50);
        }
    }
    // The tick reached the window: one text box, the date's, is off.
    int disabled = 0;
    for (int i = 0; i < 100 && disabled == 0; ++i, Sleep(50))
        for (HWND edit = nullptr; (edit = FindWindowExW(window, edit, L"Edit", nullptr));)
            disabled += IsWindowEnabled(edit) ? 0 : 1;
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program ended";

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
