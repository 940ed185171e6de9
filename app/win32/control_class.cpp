#include "app/win32/control_class.h"

#include <commctrl.h>

namespace quill::win32 {

ControlClass classFor(app::ControlKind kind) {
    switch (kind) {
    case app::ControlKind::ComboBox:
        return {WC_COMBOBOXW, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP, 0};
    case app::ControlKind::Frame:
        return {WC_BUTTONW, BS_GROUPBOX, 0};
    case app::ControlKind::Button:
        return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case app::ControlKind::CheckBox:
        // The box keeps its own state, so a click, the accessibility default action and BM_SETCHECK
        // all end in the state it shows, and the form follows that state.
        return {WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0};
    case app::ControlKind::TextBox:
        return {WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE};
    case app::ControlKind::Label:
        return {WC_STATICW, SS_LEFT | SS_NOPREFIX, 0};
    }
    return {WC_STATICW, 0, 0};
}

} // namespace quill::win32
