#include "app/win32/win32_operator.h"

#include <cstdio>

#include "app/version.h"
#include "system/win32/win32_text.h"

namespace quill::win32 {

namespace {

// Keys and clicks that waited in the queue while a directory call blocked the window were meant for
// what the window showed then, yet Windows hands a queued key to whatever has the focus when it is
// read: an Enter or a Space would press a question's default button, Yes, unasked, or close a
// result before anyone read it.
void discardQueuedInput() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
    // Posted keys and clicks too, which the input filter above does not count as input.
    while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
}

} // namespace

int Win32Operator::messageBox(const std::string& text, int style, const std::optional<std::string>& title) {
    const std::wstring body = toWide(text);
    const std::wstring caption = toWide(title ? *title : std::string(QUILL_PRODUCT_NAME));
    HWND owner = m_owner && IsWindow(m_owner) ? m_owner : nullptr;
    // Without a window yet (during start-up) the box still blocks the whole program.
    UINT flags = static_cast<UINT>(style) | (owner ? MB_APPLMODAL : MB_TASKMODAL | MB_SETFOREGROUND);
    // The box shows the normal pointer even while the logic is busy behind it.
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    discardQueuedInput();
    const int answer = MessageBoxW(owner, body.c_str(), caption.c_str(), flags);
    if (busy())
        SetCursor(previous);
    return answer;
}

void Win32Operator::setBusy(bool busy) {
    m_busyDepth += busy ? 1 : -1;
    if (m_busyDepth < 0)
        m_busyDepth = 0;
    SetCursor(LoadCursorW(nullptr, m_busyDepth > 0 ? IDC_WAIT : IDC_ARROW));
}

std::string Win32Operator::escapedErrorText(long number, const std::string& description) {
    char head[64];
    if (number < 0)
        std::snprintf(head, sizeof head, "実行時エラー '%ld (%08lX)':", number, static_cast<unsigned long>(number));
    else
        std::snprintf(head, sizeof head, "実行時エラー '%ld':", number);
    return std::string(head) + "\r\n\r\n" + description;
}

void Win32Operator::reportEscapedError(long number, const std::string& description) {
    m_busyDepth = 0;
    messageBox(escapedErrorText(number, description), MB_OK | MB_ICONERROR, std::nullopt);
}

} // namespace quill::win32
