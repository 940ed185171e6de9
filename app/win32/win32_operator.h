#pragma once

#include <windows.h>

#include "directory/operator.h"

namespace quill::win32 {

// The person at the screen: MessageBoxW owned by the main window, the hourglass for the whole
// application while the logic works, and the box that reports an escaped error.
class Win32Operator final : public Operator {
public:
    int messageBox(const std::string& text, int style, const std::optional<std::string>& title) override;
    // Nested switches count: the default pointer comes back when the outermost one ends.
    void setBusy(bool busy) override;
    void reportEscapedError(long number, const std::string& description) override;

    // Boxes are owned (and the owner disabled while one is open) by this window once it exists.
    void setOwner(HWND owner) noexcept { m_owner = owner; }
    bool busy() const noexcept { return m_busyDepth > 0; }

    // The text of the escaped-error box: the number as the classic runtime shows it (an HRESULT
    // also in hexadecimal), a blank line, then the description.
    static std::string escapedErrorText(long number, const std::string& description);

private:
    HWND m_owner = nullptr;
    int m_busyDepth = 0;
};

} // namespace quill::win32
