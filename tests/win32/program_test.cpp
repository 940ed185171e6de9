#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

// The real program here: WMI answers, the WinNT provider does not, so the account list cannot be
// read at start. That error escapes the load handler; the program shows it and ends with 1.
TEST(Program, EscapedStartupErrorIsShownThenTheProgramEndsWithFailure) {
    const wchar_t* const kProgram = program();
    std::wstring commandLine = std::wstring(L"\"") + kProgram + L"\" jdoe extra";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessW(kProgram, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);

    Search search{process.dwProcessId, nullptr};
    for (int i = 0; i < 300 && !search.box; ++i) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            break;
        EnumWindows(&findBox, reinterpret_cast<LPARAM>(&search));
    }
    ASSERT_TRUE(search.box) << "no error box appeared";
    wchar_t title[64] = {};
    GetWindowTextW(search.box, title, 64);
    EXPECT_STREQ(title, L"Quillmarsh");
    std::wstring text;
    EnumChildWindows(search.box, &collectText, reinterpret_cast<LPARAM>(&text));
    EXPECT_NE(text.find(L"実行時エラー '-"), std::wstring::npos);
    EXPECT_NE(text.find(L"WinNT://"), std::wstring::npos);

    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 1u);
}

} // namespace
