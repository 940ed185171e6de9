#pragma once

#include <windows.h>

namespace quill::win32 {

// A new font (the caller deletes it) of the window's designed face at this size in points, for
// this DPI. When the system shows another face in its place (wine's replacement, or a Windows
// without it), the font is condensed horizontally, its height kept, just enough that the caption of
// every table control of this size fits the width its control was designed to give it: substitute
// faces with full-width kana run wider than the designed face, whose kana are proportional.
HFONT createControlFont(int points, UINT dpi);

} // namespace quill::win32
