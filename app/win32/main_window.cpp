#include "app/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "app/win32/control_class.h"
#include "app/win32/dpi.h"
#include "app/win32/resource.h"
#include "directory/error.h"
#include "app/win32/win32_operator.h"
#include "app/win32/window_font.h"
#include "app/win32/window_icons.h"
#include "system/win32/win32_text.h"

namespace quill::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"Quillmarsh.LockOpener";
constexpr wchar_t kOwnerClass[] = L"Quillmarsh.Owner";
// Control IDs stay clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and Escape.
constexpr int kFirstControlId = 1000;
constexpr UINT_PTR kComboEditSubclass = 1;
constexpr UINT_PTR kCheckBoxSubclass = 2;
// The dropped list of account_Combo, in pixels at 96 dpi.
constexpr int kComboListHeight = 200;

int px(int twips, UINT dpi) {
    return app::twipsToPixels(twips, static_cast<double>(dpi));
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance, Win32Operator* person) : m_instance(instance), m_person(person) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Shared icons: the system owns them, so the window class may keep them after this object ends.
    m_bigIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLMARSH), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    m_smallIcon =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLMARSH), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MainWindow::windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.hIcon = m_bigIcon;
    windowClass.hIconSm = m_smallIcon;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass); // fails harmlessly when a previous window registered it

    WNDCLASSEXW ownerClass{};
    ownerClass.cbSize = sizeof ownerClass;
    ownerClass.lpfnWndProc = DefWindowProcW;
    ownerClass.hInstance = instance;
    ownerClass.hIcon = m_bigIcon;
    ownerClass.hIconSm = m_smallIcon;
    ownerClass.lpszClassName = kOwnerClass;
    RegisterClassExW(&ownerClass);
}

MainWindow::~MainWindow() {
    if (m_window && IsWindow(m_window))
        DestroyWindow(m_window);
    if (m_owner && IsWindow(m_owner))
        DestroyWindow(m_owner);
    if (m_logic)
        m_logic->form().onViewUpdate(nullptr);
    if (m_person)
        m_person->setOwner(nullptr);
    for (HGDIOBJ font : {static_cast<HGDIOBJ>(m_font), static_cast<HGDIOBJ>(m_comboFont)})
        if (font)
            DeleteObject(font);
}

void MainWindow::show(app::LockOpener& window) {
    m_logic = &window;
    const std::wstring caption = toWide(window.form().caption());
    // The hidden owner keeps the window off the taskbar.
    m_owner =
        CreateWindowExW(0, kOwnerClass, caption.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, m_instance, nullptr);
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    m_window = CreateWindowExW(exStyle, kWindowClass, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, m_owner, nullptr, m_instance, this);
    if (!m_window) {
        const auto error = static_cast<long>(HRESULT_FROM_WIN32(GetLastError()));
        throw RuntimeError(error, systemMessage(error));
    }

    // A fixed frame: the system menu offers only Move and Close.
    if (HMENU menu = GetSystemMenu(m_window, FALSE))
        for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
            DeleteMenu(menu, command, MF_BYCOMMAND);

    createControls();
    applyDpi(dpiOf(m_window));
    mirrorAll();
    window.form().onViewUpdate(
        [this](std::string_view control, app::Form::Property property) { mirror(control, property); });
    if (m_person)
        m_person->setOwner(m_window);

    ShowWindow(m_window, SW_SHOWNORMAL);
    UpdateWindow(m_window);
    // Focus starts where the tab order starts.
    if (HWND first = GetNextDlgTabItem(m_window, nullptr, FALSE))
        SetFocus(first);
}

HWND MainWindow::control(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < app::kControls.size(); ++i)
        if (app::kControls[i].name == name)
            return m_controls[i];
    return nullptr;
}

void MainWindow::createControls() {
    // Created in tab order and each put at the bottom of the z-order: the dialog manager's Tab key
    // follows the z-order.
    for (const app::ControlSpec* entry : app::tabOrder()) {
        const auto index = static_cast<std::size_t>(entry - app::kControls.data());
        ControlClass cls = classFor(entry->kind);
        // Labels lie under every windowed control they touch, as they do on a form that draws them
        // itself; inside a frame they must not be clipped by the frame.
        if (entry->kind == app::ControlKind::Label && entry->container.empty())
            cls.style |= WS_CLIPSIBLINGS;
        const std::wstring text = toWide(entry->caption);
        HWND child = CreateWindowExW(
            cls.exStyle, cls.className, text.c_str(), WS_CHILD | WS_VISIBLE | cls.style, 0, 0, 0, 0, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)), m_instance, nullptr);
        SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        m_controls[index] = child;
        if (entry->kind == app::ControlKind::ComboBox) {
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            if (GetComboBoxInfo(child, &info))
                m_comboEdit = info.hwndItem;
            if (m_comboEdit)
                SetWindowSubclass(m_comboEdit, &MainWindow::comboEditProc, kComboEditSubclass,
                                  reinterpret_cast<DWORD_PTR>(this));
        } else if (entry->kind == app::ControlKind::CheckBox) {
            SetWindowSubclass(child, &MainWindow::checkBoxProc, kCheckBoxSubclass, reinterpret_cast<DWORD_PTR>(this));
        }
    }
}

void MainWindow::applyDpi(UINT dpi) {
    m_dpi = dpi;
    for (HFONT* font : {&m_font, &m_comboFont})
        if (*font)
            DeleteObject(std::exchange(*font, nullptr));
    m_font = createControlFont(app::kWindow.fontPoints, dpi);
    m_comboFont = createControlFont(app::findControl("account_Combo")->fontPoints, dpi);
    // The window lets go of the old icons before they are destroyed.
    auto icons = std::make_unique<WindowIcons>(m_instance, dpi);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons->bigIcon()));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons->smallIcon()));
    m_icons = std::move(icons);
    for (std::size_t i = 0; i < app::kControls.size(); ++i) {
        HFONT font = app::kControls[i].fontPoints == app::kWindow.fontPoints ? m_font : m_comboFont;
        SendMessageW(m_controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }

    RECT frame{0, 0, px(app::kWindow.clientWidth, dpi), px(app::kWindow.clientHeight, dpi)};
    adjustWindowRectForDpi(frame, static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE)),
                           static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE)), dpi);
    SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (std::size_t i = 0; i < app::kControls.size(); ++i)
        placeControl(i);
    InvalidateRect(m_window, nullptr, TRUE);
}

void MainWindow::placeControl(std::size_t index) {
    const app::ControlSpec& entry = app::kControls[index];
    HWND child = m_controls[index];
    int left = px(entry.left, m_dpi);
    int top = px(entry.top, m_dpi);
    if (!entry.container.empty())
        if (const app::ControlSpec* frame = app::findControl(entry.container)) {
            left += px(frame->left, m_dpi);
            top += px(frame->top, m_dpi);
        }
    int width = px(entry.width, m_dpi);
    int height = px(entry.height, m_dpi);

    if (entry.autoSize) {
        HDC dc = GetDC(child);
        const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        const std::wstring text = windowText(child);
        RECT extent{0, 0, 0, 0};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
        ReleaseDC(child, dc);
        width = extent.right - extent.left;
        height = extent.bottom - extent.top;
    }

    if (entry.kind == app::ControlKind::ComboBox) {
        // A drop-down combo's window height includes its list; the selection field is sized
        // through the item height of entry -1 so the closed box has the table's height.
        MoveWindow(child, left, top, width, height + px(kComboListHeight * app::kTwipsPerPixelAt96Dpi, m_dpi), FALSE);
        // Systems differ in what the reported item height includes, so correct by what is measured.
        const auto closedHeight = [child] {
            RECT closed{};
            GetWindowRect(child, &closed);
            return static_cast<int>(closed.bottom - closed.top);
        };
        // The table's height fits the designed font; a taller substitute font keeps its own height.
        const int wanted = std::max(height, closedHeight());
        int request = static_cast<int>(SendMessageW(child, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
        for (int attempt = 0; attempt < 3 && closedHeight() != wanted; ++attempt) {
            request += wanted - closedHeight();
            if (request <= 0)
                break;
            SendMessageW(child, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
        }
        return;
    }
    MoveWindow(child, left, top, width, height, FALSE);
}

void MainWindow::mirrorAll() {
    ++m_mirroring;
    SetWindowTextW(m_window, toWide(m_logic->form().caption()).c_str());
    for (std::size_t i = 0; i < app::kControls.size(); ++i) {
        const std::string_view name = app::kControls[i].name;
        mirror(name, app::Form::Property::Text);
        mirror(name, app::Form::Property::Enabled);
        if (app::kControls[i].kind == app::ControlKind::CheckBox)
            mirror(name, app::Form::Property::Value);
    }
    syncItems();
    --m_mirroring;
}

void MainWindow::mirror(std::string_view name, app::Form::Property property) {
    const app::Form& form = m_logic->form();
    if (property == app::Form::Property::Caption) {
        SetWindowTextW(m_window, toWide(form.caption()).c_str());
        return;
    }
    HWND child = control(name);
    if (!child)
        return;
    ++m_mirroring;
    switch (property) {
    case app::Form::Property::Text: {
        const std::wstring text = toWide(form.text(name));
        if (child == control("account_Combo"))
            m_comboKnown = text;
        if (windowText(child) != text) {
            SetWindowTextW(child, text.c_str());
            if (const app::ControlSpec* entry = app::findControl(name); entry && entry->autoSize)
                placeControl(static_cast<std::size_t>(entry - app::kControls.data()));
        }
        break;
    }
    case app::Form::Property::Enabled:
        EnableWindow(child, form.enabled(name) ? TRUE : FALSE);
        break;
    case app::Form::Property::Value: {
        const int value = form.value(name);
        SendMessageW(child, BM_SETCHECK, value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED, 0);
        break;
    }
    case app::Form::Property::Items:
        syncItems();
        break;
    case app::Form::Property::Caption:
        break;
    }
    --m_mirroring;
}

void MainWindow::syncItems() {
    HWND combo = control("account_Combo");
    const auto& items = m_logic->form().items("account_Combo");
    auto count = static_cast<std::size_t>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    if (count > items.size()) {
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        count = 0;
    }
    // Items are only ever appended; the list is unsorted, so CB_ADDSTRING keeps their order. A
    // domain's whole list arrives at once: room for all of it first, and one repaint at the end.
    const std::size_t adding = items.size() - count;
    if (adding > 1) {
        std::size_t characters = 0;
        for (std::size_t i = count; i < items.size(); ++i)
            characters += items[i].size() + 1;
        SendMessageW(combo, CB_INITSTORAGE, adding, static_cast<LPARAM>(characters * sizeof(wchar_t)));
        SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
    }
    for (std::size_t i = count; i < items.size(); ++i)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(toWide(items[i]).c_str()));
    if (adding > 1) {
        SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(combo, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    // Resetting the list may have cleared the edit field; the form's text stays what it shows.
    if (windowText(combo) != m_comboKnown)
        SetWindowTextW(combo, m_comboKnown.c_str());
}

void MainWindow::comboTextMayHaveChanged() {
    if (m_mirroring || m_failed || !m_logic || !m_comboEdit)
        return;
    std::wstring text = windowText(m_comboEdit);
    if (text == m_comboKnown)
        return;
    m_comboKnown = text;
    finish(m_logic->textEdited("account_Combo", toUtf8(text)));
}

void MainWindow::checkMayHaveChanged(std::size_t index) {
    if (m_mirroring || m_failed || !m_logic)
        return;
    const auto state = SendMessageW(m_controls[index], BM_GETCHECK, 0, 0);
    const int value = state == BST_CHECKED ? 1 : state == BST_INDETERMINATE ? 2 : 0;
    const std::string_view name = app::kControls[index].name;
    // Like the form's own Click: raised once per change of the value, whoever changed it.
    if (value != m_logic->form().value(name))
        finish(m_logic->valueClicked(name, value));
}

void MainWindow::onCommand(int id, int code) {
    if (m_failed || !m_logic || id < kFirstControlId)
        return;
    const auto index = static_cast<std::size_t>(id - kFirstControlId);
    if (index >= app::kControls.size())
        return;
    const app::ControlSpec& entry = app::kControls[index];
    switch (entry.kind) {
    case app::ControlKind::Button:
        if (code == BN_CLICKED)
            finish(m_logic->dispatch(entry.name, app::Event::Click));
        break;
    case app::ControlKind::CheckBox:
        // The box has already changed its state (or another program set it before notifying).
        if (code == BN_CLICKED)
            checkMayHaveChanged(index);
        break;
    case app::ControlKind::TextBox:
        // The person's edits reach the form; the form's own writes come back here while mirroring.
        if (code == EN_CHANGE && !m_mirroring) {
            // The password box's text passes through here too: leave no copy behind.
            std::wstring wide = windowText(m_controls[index]);
            std::string utf8 = toUtf8(wide);
            SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
            finish(m_logic->textEdited(entry.name, std::move(utf8)));
        }
        break;
    case app::ControlKind::ComboBox:
        if (code == CBN_SELCHANGE) {
            // The edit field still shows the old text here: take the chosen item's own text.
            HWND combo = m_controls[index];
            const auto chosen = SendMessageW(combo, CB_GETCURSEL, 0, 0);
            if (chosen == CB_ERR)
                break;
            std::wstring item(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, chosen, 0)) + 1, L'\0');
            const auto length = SendMessageW(combo, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(length > 0 ? length : 0));
            if (item != m_comboKnown) {
                m_comboKnown = item;
                if (!m_logic->textEdited(entry.name, toUtf8(item))) {
                    finish(false);
                    break;
                }
            }
            finish(m_logic->dispatch(entry.name, app::Event::Click));
        }
        break;
    default:
        break;
    }
}

void MainWindow::finish(bool handlerSucceeded) {
    if (handlerSucceeded || m_failed)
        return;
    // The error has been shown; the program ends with a failure status.
    m_failed = true;
    PostQuitMessage(app::kEscapedErrorExitStatus);
}

bool MainWindow::swallowsKey(const MSG& message) const {
    if (message.message != WM_KEYDOWN && message.message != WM_KEYUP && message.message != WM_CHAR)
        return false;
    if (message.wParam != VK_RETURN && message.wParam != VK_ESCAPE)
        return false;
    if (!m_window || (message.hwnd != m_window && !IsChild(m_window, message.hwnd)))
        return false;
    // An open list still closes with Enter or Escape.
    HWND combo = control("account_Combo");
    if (combo && SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0))
        return false;
    return true;
}

void MainWindow::processMessage(MSG& message) {
    // No default or cancel button: Enter and Escape press nothing.
    if (swallowsKey(message))
        return;
    if (m_window && IsWindow(m_window) && IsDialogMessageW(m_window, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int MainWindow::run() {
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0)
        processMessage(message);
    if (m_failed)
        return app::kEscapedErrorExitStatus;
    return got < 0 ? app::kEscapedErrorExitStatus : static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_window = window;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0)
            onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_SETCURSOR:
        if (m_person && m_person->busy()) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        // Like a dialog: focus comes back to the control that had it.
        if (LOWORD(wParam) == WA_INACTIVE) {
            m_savedFocus = GetFocus();
        } else if (m_savedFocus && IsWindow(m_savedFocus)) {
            SetFocus(m_savedFocus);
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        applyDpi(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_window, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        if (m_logic)
            m_logic->form().onViewUpdate(nullptr);
        if (!m_failed)
            PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND window = std::exchange(m_window, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_comboEdit = nullptr;
        m_controls.fill(nullptr);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::comboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR selfPointer) {
    auto* self = reinterpret_cast<MainWindow*>(selfPointer);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(edit, &MainWindow::comboEditProc, id);
        return DefSubclassProc(edit, message, wParam, lParam);
    }
    // Whatever changed the text (typing, pasting, undo, WM_SETTEXT, the list), the outermost
    // message sees the result once it is done.
    ++self->m_editDepth;
    const LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
    --self->m_editDepth;
    if (self->m_editDepth == 0 && message != WM_GETTEXT && message != WM_GETTEXTLENGTH)
        self->comboTextMayHaveChanged();
    return result;
}

LRESULT CALLBACK MainWindow::checkBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR selfPointer) {
    auto* self = reinterpret_cast<MainWindow*>(selfPointer);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(box, &MainWindow::checkBoxProc, id);
        return DefSubclassProc(box, message, wParam, lParam);
    }
    const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
    // BM_SETCHECK from another program notifies nobody; the form must still hold what the box shows.
    if (message == BM_SETCHECK)
        for (std::size_t i = 0; i < self->m_controls.size(); ++i)
            if (self->m_controls[i] == box)
                self->checkMayHaveChanged(i);
    return result;
}

} // namespace quill::win32
