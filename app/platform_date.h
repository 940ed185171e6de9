#pragma once

#include <string_view>

namespace app {

// Whether an expiry text holds a date, decided by the conversion the platform's directory applies
// when the text is written, so that the enable handler's test and the write agree: on Windows
// VarDateFromStr for the user's locale, on Linux directory::parseDateText. Never throws.
bool isDateText(std::string_view text) noexcept;

} // namespace app
