#include "app/win32/window_font.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/layout.h"
#include "system/win32/win32_text.h"

namespace quill::win32 {

namespace {

struct CaptionRoom {
    std::wstring caption;
    int width; // pixels
};

HFONT createFace(int points, UINT dpi, int averageWidth) {
    const std::wstring face = toWide(app::kWindow.fontFamily);
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), averageWidth, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// What each kind of control keeps for itself beside its caption, in pixels at 96 dpi.
int chrome(app::ControlKind kind) {
    switch (kind) {
    case app::ControlKind::Button:
        return 8; // edges and focus rectangle
    case app::ControlKind::CheckBox:
        return 18; // the box and the gap after it
    case app::ControlKind::Frame:
        return 20; // the caption's indent and the line after it
    default:
        return 0;
    }
}

std::vector<CaptionRoom> captionRooms(int points, UINT dpi) {
    std::vector<CaptionRoom> rooms;
    for (const app::ControlSpec& entry : app::kControls)
        if (entry.fontPoints == points && !entry.caption.empty())
            rooms.push_back({toWide(entry.caption), app::twipsToPixels(entry.width, dpi) -
                                                        MulDiv(chrome(entry.kind), static_cast<int>(dpi), 96)});
    return rooms;
}

std::uint16_t bigEndian16(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Whether the font selected into dc is the designed face. Wine's replacements and Windows'
// FontSubstitutes both answer GetTextFaceW with the name asked for, so the family names in the
// font file's own name table decide.
bool showsDesignedFace(HDC dc) {
    const std::wstring designed = toWide(app::kWindow.fontFamily);
    wchar_t face[LF_FACESIZE] = {};
    if (!GetTextFaceW(dc, LF_FACESIZE, face) || _wcsicmp(face, designed.c_str()) != 0)
        return false;
    constexpr DWORD nameTable = 'n' | 'a' << 8 | 'm' << 16 | 'e' << 24;
    const DWORD size = GetFontData(dc, nameTable, 0, nullptr, 0);
    if (size == GDI_ERROR || size < 6)
        return true; // no name table to ask: take the system's word
    std::vector<unsigned char> table(size);
    if (GetFontData(dc, nameTable, 0, table.data(), size) != size)
        return true;
    const std::size_t count = bigEndian16(table, 2);
    const std::size_t strings = bigEndian16(table, 4);
    for (std::size_t i = 0; i < count && 6 + 12 * (i + 1) <= size; ++i) {
        const std::size_t record = 6 + 12 * i;
        const auto platform = bigEndian16(table, record);
        const auto nameId = bigEndian16(table, record + 6);
        const std::size_t length = bigEndian16(table, record + 8);
        const std::size_t offset = strings + bigEndian16(table, record + 10);
        // Windows platform names are UTF-16 big-endian; family (1) and typographic family (16).
        if (platform != 3 || (nameId != 1 && nameId != 16) || offset + length > size)
            continue;
        std::wstring name;
        for (std::size_t at = offset; at + 1 < offset + length; at += 2)
            name.push_back(static_cast<wchar_t>(bigEndian16(table, at)));
        if (_wcsicmp(name.c_str(), designed.c_str()) == 0)
            return true;
    }
    return false;
}

// The largest ratio of a caption's width in the font selected into dc to its room.
double widestOverflow(HDC dc, const std::vector<CaptionRoom>& rooms) {
    double widest = 0;
    for (const CaptionRoom& room : rooms) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, room.caption.c_str(), static_cast<int>(room.caption.size()), &extent);
        widest = std::max(widest, static_cast<double>(extent.cx) / std::max(room.width, 1));
    }
    return widest;
}

} // namespace

HFONT createControlFont(int points, UINT dpi) {
    HFONT font = createFace(points, dpi, 0);
    const std::vector<CaptionRoom> rooms = captionRooms(points, dpi);
    if (!font || rooms.empty())
        return font;
    HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    double overflow = showsDesignedFace(dc) ? 0 : widestOverflow(dc, rooms);
    if (overflow > 1 && metrics.tmAveCharWidth > 0) {
        // The average width scales the face horizontally; it is whole pixels, so narrow from the
        // estimate until everything fits, but never below half the face's own width.
        const LONG natural = metrics.tmAveCharWidth;
        for (LONG width = static_cast<LONG>(natural / overflow); overflow > 1 && width >= (natural + 1) / 2; --width) {
            HFONT narrower = createFace(points, dpi, width);
            if (!narrower)
                break;
            SelectObject(dc, narrower);
            DeleteObject(font);
            font = narrower;
            overflow = widestOverflow(dc, rooms);
        }
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    return font;
}

} // namespace quill::win32
