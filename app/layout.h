#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace app {

enum class ControlKind { ComboBox, Frame, Button, CheckBox, TextBox, Label };

// One control of the window as designed. Positions are twips relative to the container:
// the window's client area (container empty) or a named frame.
struct ControlSpec {
    std::string_view name;
    ControlKind kind;
    std::string_view caption;
    std::string_view container;
    int left;
    int top;
    int width;
    int height;
    int tabIndex;
    int fontPoints;    // 9, or 18 for the account box
    bool autoSize;     // a label that sizes itself to its caption
    bool passwordMask; // always false: the password box shows what is typed
};

struct WindowSpec {
    std::string_view caption;
    int clientWidth;  // twips
    int clientHeight; // twips
    std::string_view fontFamily;
    int fontPoints;
};

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;

inline constexpr WindowSpec kWindow{"Quillmarsh", 4575, 3810, "MS UI Gothic", 9};

// The seventeen controls, in the window's stored order.
inline constexpr std::array<ControlSpec, 17> kControls{{
    {"account_Combo", ControlKind::ComboBox, "", "", 120, 360, 4335, 480, 16, 18, false, false},
    {"Frame2", ControlKind::Frame, "ロックアウト/パスワード", "", 120, 2520, 4335, 735, 8, 9, false, false},
    {"Command1", ControlKind::Button, "ロック解除", "Frame2", 120, 240, 1575, 375, 10, 9, false, false},
    {"Command2", ControlKind::Button, "ロック解除/パスワードリセット", "Frame2", 1920, 240, 2295, 375, 9, 9, false,
     false},
    {"Frame1", ControlKind::Frame, "有効/無効", "", 120, 1320, 4335, 1095, 5, 9, false, false},
    {"Check1", ControlKind::CheckBox, "無期限", "Frame1", 3000, 720, 1095, 255, 15, 9, false, false},
    {"AccountLimit", ControlKind::TextBox, "", "Frame1", 960, 720, 1455, 270, 11, 9, false, false},
    {"アカウント有効", ControlKind::Button, "アカウント有効", "Frame1", 120, 240, 1935, 375, 7, 9, false, false},
    {"アカウント停止", ControlKind::Button, "アカウント停止", "Frame1", 2280, 240, 1935, 375, 6, 9, false, false},
    {"Label5", ControlKind::Label, "迄", "Frame1", 2520, 765, 255, 255, 13, 9, false, false},
    {"Label3", ControlKind::Label, "有効期限", "Frame1", 120, 765, 720, 180, 12, 9, true, false},
    {"changePassword", ControlKind::TextBox, "", "", 1800, 960, 2655, 270, 2, 9, false, false},
    {"trgSrv", ControlKind::TextBox, "", "", 2160, 3360, 2295, 270, 0, 9, false, false},
    {"Label1", ControlKind::Label, "対象アカウント", "", 120, 120, 1020, 180, 4, 9, true, false},
    {"Label4", ControlKind::Label, "リセットするパスワード", "", 120, 1005, 1575, 180, 3, 9, true, false},
    {"Label2", ControlKind::Label, "対象サーバ/ドメイン指定", "", 240, 3405, 1785, 180, 1, 9, true, false},
    {"DisplayCondition", ControlKind::Label, "", "", 1320, 120, 3135, 255, 14, 9, false, false},
}};

// The control with this name, if any.
const ControlSpec* findControl(std::string_view name) noexcept;

// Controls in tab order (tab index 0 first).
std::array<const ControlSpec*, kControls.size()> tabOrder() noexcept;

// Twips to device pixels at the given dots per inch, rounded to nearest.
int twipsToPixels(int twips, double dpi) noexcept;

// Which label names which text box, for screen readers (the caption beside it).
std::optional<std::string_view> buddyLabelFor(std::string_view control) noexcept;

} // namespace app
