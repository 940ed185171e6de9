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

// Levels 31 and 32: the 514-byte buffer (length first, then the password, then random bytes),
// AES-256-CBC with PKCS#7 padding under HMAC-SHA512(session key, encryption salt), authenticated
// with HMAC-SHA512 under HMAC-SHA512(session key, MAC salt) over version, salt, cipher text and
// version length. All fields are zeroed when the object is destroyed.
struct AesPassword {
    static constexpr std::size_t kCipherSize = 528;
    std::uint8_t authData[64] = {};
    std::uint8_t salt[16] = {};
    std::uint8_t cipher[kCipherSize] = {};
    AesPassword() = default;
    AesPassword(const AesPassword&) = delete;
    AesPassword& operator=(const AesPassword&) = delete;
    ~AesPassword();
};
void encryptPasswordAes(std::string_view utf8, std::span<const std::uint8_t> sessionKey, AesPassword& out);

} // namespace samrdir
