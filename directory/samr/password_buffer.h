#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace samrdir {

// The password buffers of SetUserInfo2, encrypted with the pipe's session key. The clear
// buffer holds the UTF-16LE password at the end of 512 random bytes, then its length in bytes.
// Throws directory::Error when the password is not UTF-8 or longer than 256 UTF-16 units. Every
// intermediate copy is zeroed.

// Levels 25 and 26 (532 bytes): RC4 keyed with MD5(confounder + session key), confounder appended.
inline constexpr std::size_t kCryptPasswordExSize = 532;
void encryptPasswordEx(std::string_view utf8, std::span<const std::uint8_t> sessionKey,
                       std::span<std::uint8_t, kCryptPasswordExSize> out);

// Levels 23 and 24 (516 bytes): RC4 keyed with the session key itself.
inline constexpr std::size_t kCryptPasswordSize = 516;
void encryptPassword(std::string_view utf8, std::span<const std::uint8_t> sessionKey,
                     std::span<std::uint8_t, kCryptPasswordSize> out);

} // namespace samrdir
