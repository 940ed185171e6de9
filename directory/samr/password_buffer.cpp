#include "password_buffer.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <array>
#include <cstring>

#include "directory/error.h"
#include "directory/secret.h"

namespace samrdir {

namespace {

constexpr std::size_t kBufferSize = 516;
constexpr std::size_t kMaxBytes = 512;

[[noreturn]] void cryptoFailure() {
    throw directory::Error(directory::codes::kFail, "パスワードを暗号化できませんでした。");
}

// Zeroes an array when it goes out of scope.
template <std::size_t N> struct Wiped {
    std::array<std::uint8_t, N> bytes{};
    Wiped() = default;
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    ~Wiped() { directory::secureZero(bytes.data(), bytes.size()); }
};

// Decodes one code point of UTF-8; false when the sequence is ill-formed.
bool nextCodePoint(std::string_view text, std::size_t& at, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        cp = lead;
        ++at;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (at + length > text.size())
        return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// The password in UTF-16LE; returns its length in bytes.
std::size_t encodeUtf16(std::string_view utf8, Wiped<kMaxBytes>& encoded) {
    std::size_t used = 0;
    const auto put = [&](char16_t unit) {
        if (used + 2 > kMaxBytes)
            throw directory::Error(directory::codes::kPasswordPolicy, "パスワードが長すぎます。");
        encoded.bytes[used++] = static_cast<std::uint8_t>(unit & 0xFF);
        encoded.bytes[used++] = static_cast<std::uint8_t>(unit >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        if (!nextCodePoint(utf8, i, cp))
            throw directory::Error(directory::codes::kInvalidArg,
                                   "パスワードが UTF-8 の文字列として正しくありません。");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
    return used;
}

// The clear buffer: random filler, the password at the end of the first 512 bytes, its length.
void fillClearBuffer(std::string_view utf8, std::span<std::uint8_t, kBufferSize> buffer) {
    Wiped<kMaxBytes> encoded;
    const std::size_t used = encodeUtf16(utf8, encoded);
    if (gnutls_rnd(GNUTLS_RND_NONCE, buffer.data(), kMaxBytes - used) != 0)
        cryptoFailure();
    std::memcpy(buffer.data() + kMaxBytes - used, encoded.bytes.data(), used);
    for (std::size_t i = 0; i < 4; ++i)
        buffer[kMaxBytes + i] = static_cast<std::uint8_t>(used >> (8 * i));
}

void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
    gnutls_datum_t keyDatum{const_cast<unsigned char*>(key.data()), static_cast<unsigned>(key.size())};
    gnutls_cipher_hd_t cipher = nullptr;
    if (gnutls_cipher_init(&cipher, GNUTLS_CIPHER_ARCFOUR_128, &keyDatum, nullptr) != 0)
        cryptoFailure();
    const int rc = gnutls_cipher_encrypt(cipher, data.data(), data.size());
    gnutls_cipher_deinit(cipher);
    if (rc != 0) {
        directory::secureZero(data.data(), data.size());
        cryptoFailure();
    }
}

// Both salts include the final NUL, as the protocol defines them.
constexpr char kEncryptionSalt[] = "Microsoft SAM encryption key AEAD-AES-256-CBC-HMAC-SHA512 16";
constexpr char kMacSalt[] = "Microsoft SAM MAC key AEAD-AES-256-CBC-HMAC-SHA512 16";

} // namespace

AesPassword::~AesPassword() {
    directory::secureZero(authData, sizeof authData);
    directory::secureZero(salt, sizeof salt);
    directory::secureZero(cipher, sizeof cipher);
}

void encryptPasswordAes(std::string_view utf8, std::span<const std::uint8_t> sessionKey, AesPassword& out) {
    if (sessionKey.empty())
        cryptoFailure();
    // The clear text: length, password, random filler (514 bytes), then PKCS#7 padding.
    Wiped<AesPassword::kCipherSize> clear;
    {
        Wiped<kMaxBytes> encoded;
        const std::size_t used = encodeUtf16(utf8, encoded);
        clear.bytes[0] = static_cast<std::uint8_t>(used & 0xFF);
        clear.bytes[1] = static_cast<std::uint8_t>(used >> 8);
        std::memcpy(clear.bytes.data() + 2, encoded.bytes.data(), used);
        if (gnutls_rnd(GNUTLS_RND_NONCE, clear.bytes.data() + 2 + used, kMaxBytes - used) != 0)
            cryptoFailure();
    }
    constexpr std::size_t kClearSize = 2 + kMaxBytes;
    for (std::size_t i = kClearSize; i < AesPassword::kCipherSize; ++i)
        clear.bytes[i] = static_cast<std::uint8_t>(AesPassword::kCipherSize - kClearSize);

    Wiped<64> encryptionKey;
    Wiped<64> macKey;
    if (gnutls_rnd(GNUTLS_RND_NONCE, out.salt, sizeof out.salt) != 0 ||
        gnutls_hmac_fast(GNUTLS_MAC_SHA512, sessionKey.data(), sessionKey.size(), kEncryptionSalt,
                         sizeof kEncryptionSalt, encryptionKey.bytes.data()) != 0 ||
        gnutls_hmac_fast(GNUTLS_MAC_SHA512, sessionKey.data(), sessionKey.size(), kMacSalt, sizeof kMacSalt,
                         macKey.bytes.data()) != 0)
        cryptoFailure();
    gnutls_datum_t key{encryptionKey.bytes.data(), 32};
    gnutls_datum_t iv{out.salt, sizeof out.salt};
    gnutls_cipher_hd_t cipher = nullptr;
    if (gnutls_cipher_init(&cipher, GNUTLS_CIPHER_AES_256_CBC, &key, &iv) != 0)
        cryptoFailure();
    const int rc =
        gnutls_cipher_encrypt2(cipher, clear.bytes.data(), clear.bytes.size(), out.cipher, sizeof out.cipher);
    gnutls_cipher_deinit(cipher);
    if (rc != 0)
        cryptoFailure();

    const std::uint8_t version = 1;
    gnutls_hmac_hd_t mac = nullptr;
    if (gnutls_hmac_init(&mac, GNUTLS_MAC_SHA512, macKey.bytes.data(), macKey.bytes.size()) != 0)
        cryptoFailure();
    gnutls_hmac(mac, &version, 1);
    gnutls_hmac(mac, out.salt, sizeof out.salt);
    gnutls_hmac(mac, out.cipher, sizeof out.cipher);
    gnutls_hmac(mac, &version, 1); // the length of the version field
    gnutls_hmac_deinit(mac, out.authData);
}

void encryptPasswordEx(std::string_view utf8, std::span<const std::uint8_t> sessionKey,
                       std::span<std::uint8_t, kCryptPasswordExSize> out) {
    if (sessionKey.empty())
        cryptoFailure();
    fillClearBuffer(utf8, out.first<kBufferSize>());
    std::span<std::uint8_t, 16> confounder = out.last<16>();
    Wiped<16> key;
    gnutls_hash_hd_t hash = nullptr;
    if (gnutls_rnd(GNUTLS_RND_NONCE, confounder.data(), confounder.size()) != 0 ||
        gnutls_hash_init(&hash, GNUTLS_DIG_MD5) != 0) {
        directory::secureZero(out.data(), out.size());
        cryptoFailure();
    }
    gnutls_hash(hash, confounder.data(), confounder.size());
    gnutls_hash(hash, sessionKey.data(), sessionKey.size());
    gnutls_hash_deinit(hash, key.bytes.data());
    rc4(key.bytes, out.first<kBufferSize>());
}

void encryptPassword(std::string_view utf8, std::span<const std::uint8_t> sessionKey,
                     std::span<std::uint8_t, kCryptPasswordSize> out) {
    if (sessionKey.empty())
        cryptoFailure();
    fillClearBuffer(utf8, out);
    rc4(sessionKey, out);
}

} // namespace samrdir
