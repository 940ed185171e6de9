#pragma once

#include <string_view>

namespace unixacct {

// The longest user or group name the shadow tools accept.
inline constexpr std::size_t kMaxAccountNameLength = 32;

// True for valid UTF-8 with no overlong forms, surrogates or code points past U+10FFFF.
bool isValidUtf8(std::string_view text) noexcept;

// True for a name that can go to the account tools as one argument and one file field: not
// empty, at most 32 bytes, valid UTF-8, no control character, and none of ":", ",", "/",
// a leading "-" (which a tool would read as an option), or a name of only "." or "..".
bool isSafeAccountName(std::string_view name) noexcept;

// Throws directory::Error (bad path name) naming the problem when isSafeAccountName is false.
void checkAccountName(std::string_view name);

// True for a text that can be one GECOS field: valid UTF-8, no ":" and no control character.
bool isSafeGecos(std::string_view text) noexcept;

} // namespace unixacct
