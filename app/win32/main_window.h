#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "app/layout.h"
#include "app/main_module.h"

namespace quill::win32 {

class Win32Operator;
class WindowIcons;

// The window LockOpener on Win32, built with CreateWindowExW from the control table: positions
// converted from twips for the window's DPI, tab order as z-order, no default or cancel button.
// The Form stays the source of truth: the window mirrors it and feeds the person's edits back.
class MainWindow final : public app::WindowHost {
public:
    // person, when given, owns the message boxes and tells WM_SETCURSOR when to show the hourglass.
    explicit MainWindow(HINSTANCE instance, Win32Operator* person = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the hidden owner, the window and its controls from the loaded form, and shows it.
    void show(app::LockOpener& window) override;

    // Runs the message loop until the window is closed (0) or an error escaped a handler
    // (app::kEscapedErrorExitStatus). Returns the program's exit status.
    int run();
    // One message through the window's keyboard handling and on to its window procedure.
    void processMessage(MSG& message);

    HWND handle() const noexcept { return m_window; }
    HWND owner() const noexcept { return m_owner; }
    // The control with this name from the table, or null.
    HWND control(std::string_view name) const noexcept;
    // The edit box inside account_Combo.
    HWND comboEdit() const noexcept { return m_comboEdit; }
    // An error escaped a handler; the program is ending.
    bool failed() const noexcept { return m_failed; }
    UINT dpi() const noexcept { return m_dpi; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK comboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR self);
    static LRESULT CALLBACK checkBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void createControls();
    void applyDpi(UINT dpi);
    void placeControl(std::size_t index);
    void mirror(std::string_view control, app::Form::Property property);
    void mirrorAll();
    void syncItems();
    void onCommand(int id, int code);
    void comboTextMayHaveChanged();
    void checkMayHaveChanged(std::size_t index);
    void finish(bool handlerSucceeded);
    bool swallowsKey(const MSG& message) const;

    HINSTANCE m_instance;
    Win32Operator* m_person;
    app::LockOpener* m_logic = nullptr;
    HWND m_owner = nullptr;
    HWND m_window = nullptr;
    HWND m_comboEdit = nullptr;
    std::array<HWND, app::kControls.size()> m_controls{};
    HFONT m_font = nullptr;
    HFONT m_comboFont = nullptr;
    HICON m_bigIcon = nullptr;            // the class's, shared: not destroyed here
    HICON m_smallIcon = nullptr;          // the class's, shared: not destroyed here
    std::unique_ptr<WindowIcons> m_icons; // the window's own, for its DPI
    UINT m_dpi = 96;
    HWND m_savedFocus = nullptr;

    // The combo text the form holds, as last shown; an edit that leaves a different text is real.
    std::wstring m_comboKnown;
    int m_mirroring = 0;
    int m_editDepth = 0;
    bool m_failed = false;
};

} // namespace quill::win32
