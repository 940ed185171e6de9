#pragma once

#include <windows.h>

#include "app/layout.h"

namespace quill::win32 {

// The system window class and styles that stand for one kind of the table's controls.
struct ControlClass {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

ControlClass classFor(app::ControlKind kind);

} // namespace quill::win32
