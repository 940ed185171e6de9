#include "app/layout.h"

#include <algorithm>
#include <cmath>

namespace app {

const ControlSpec* findControl(std::string_view name) noexcept {
    for (const auto& control : kControls)
        if (control.name == name)
            return &control;
    return nullptr;
}

std::array<const ControlSpec*, kControls.size()> tabOrder() noexcept {
    std::array<const ControlSpec*, kControls.size()> order{};
    for (std::size_t i = 0; i < kControls.size(); ++i)
        order[i] = &kControls[i];
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
    return order;
}

int twipsToPixels(int twips, double dpi) noexcept {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

std::optional<std::string_view> buddyLabelFor(std::string_view control) noexcept {
    if (control == "account_Combo")
        return "Label1";
    if (control == "changePassword")
        return "Label4";
    if (control == "AccountLimit")
        return "Label3";
    if (control == "trgSrv")
        return "Label2";
    return std::nullopt;
}

} // namespace app
