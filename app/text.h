#pragma once

#include <string>
#include <string_view>

namespace app {

// Removes ordinary spaces (U+0020) and ideographic spaces (U+3000) from both ends.
std::string trimSpaces(std::string_view text);

// True when only ordinary and ideographic spaces, or nothing, remain.
bool isBlank(std::string_view text);

// The CR LF that joins the lines of a two-line prompt.
inline constexpr std::string_view kCrLf = "\r\n";

} // namespace app
