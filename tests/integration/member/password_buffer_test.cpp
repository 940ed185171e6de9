#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "directory/error.h"
#include "directory/samr/password_buffer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kSessionKey{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void rc4(Bytes key, std::uint8_t* data, std::size_t size) {
    gnutls_datum_t k{key.data(), static_cast<unsigned>(key.size())};
    gnutls_cipher_hd_t h = nullptr;
    ASSERT_EQ(gnutls_cipher_init(&h, GNUTLS_CIPHER_ARCFOUR_128, &k, nullptr), 0);
    gnutls_cipher_decrypt(h, data, size);
    gnutls_cipher_deinit(h);
}

Bytes hmac(const Bytes& key, const void* data, std::size_t size) {
    Bytes out(64);
    gnutls_hmac_fast(GNUTLS_MAC_SHA512, key.data(), key.size(), data, size, out.data());
    return out;
}

// What a server finds in a decrypted 516-byte buffer: the password just before its length.
Bytes atTheEnd(const std::uint8_t* clear) {
    const std::size_t length = clear[512] | (clear[513] << 8) | (clear[514] << 16) | (clear[515] << 24);
    return length > 512 ? Bytes{} : Bytes(clear + 512 - length, clear + 512);
}

TEST(PasswordBuffer, EveryLevelCarriesThePasswordWhereTheServerReadsIt) {
    struct Row {
        const char* name;
        const char* utf8;
        Bytes utf16;
    };
    for (const Row& row :
         {Row{"ASCII", "Pw-1", {'P', 0, 'w', 0, '-', 0, '1', 0}}, Row{"Japanese", "パス", {0xD1, 0x30, 0xB9, 0x30}},
          Row{"surrogate pair", "\xF0\x9F\x94\x91x", {0x3D, 0xD8, 0x11, 0xDD, 'x', 0}}, Row{"empty", "", {}}}) {
        SCOPED_TRACE(row.name);
        std::array<std::uint8_t, samrdir::kCryptPasswordExSize> ex{};
        samrdir::encryptPasswordEx(row.utf8, kSessionKey, ex);
        Bytes confounded(16);
        Bytes keyInput(ex.end() - 16, ex.end());
        keyInput.insert(keyInput.end(), kSessionKey.begin(), kSessionKey.end());
        gnutls_hash_fast(GNUTLS_DIG_MD5, keyInput.data(), keyInput.size(), confounded.data());
        rc4(confounded, ex.data(), 516);
        EXPECT_EQ(atTheEnd(ex.data()), row.utf16);

        std::array<std::uint8_t, samrdir::kCryptPasswordSize> plain{};
        samrdir::encryptPassword(row.utf8, kSessionKey, plain);
        rc4(kSessionKey, plain.data(), plain.size());
        EXPECT_EQ(atTheEnd(plain.data()), row.utf16);

        samrdir::AesPassword aes;
        samrdir::encryptPasswordAes(row.utf8, kSessionKey, aes);
        static const char kEnc[] = "Microsoft SAM encryption key AEAD-AES-256-CBC-HMAC-SHA512 16";
        static const char kMac[] = "Microsoft SAM MAC key AEAD-AES-256-CBC-HMAC-SHA512 16";
        Bytes signedPart{1};
        signedPart.insert(signedPart.end(), aes.salt, aes.salt + 16);
        signedPart.insert(signedPart.end(), aes.cipher, aes.cipher + sizeof aes.cipher);
        signedPart.push_back(1);
        EXPECT_EQ(hmac(hmac(kSessionKey, kMac, sizeof kMac), signedPart.data(), signedPart.size()),
                  Bytes(aes.authData, aes.authData + 64));
        Bytes key = hmac(kSessionKey, kEnc, sizeof kEnc);
        gnutls_datum_t k{key.data(), 32};
        gnutls_datum_t iv{aes.salt, 16};
        gnutls_cipher_hd_t h = nullptr;
        ASSERT_EQ(gnutls_cipher_init(&h, GNUTLS_CIPHER_AES_256_CBC, &k, &iv), 0);
        gnutls_cipher_decrypt(h, aes.cipher, sizeof aes.cipher);
        gnutls_cipher_deinit(h);
        const std::size_t length = aes.cipher[0] | (aes.cipher[1] << 8);
        EXPECT_EQ(Bytes(aes.cipher + 2, aes.cipher + 2 + std::min<std::size_t>(length, 512)), row.utf16);
        EXPECT_EQ(aes.cipher[527], 14); // PKCS#7 padding of the 514-byte clear text
    }
}

TEST(PasswordBuffer, RefusesWhatNoServerCouldRead) {
    std::array<std::uint8_t, samrdir::kCryptPasswordExSize> out{};
    for (const std::string& password : {std::string("\xC3("), std::string("\xED\xA0\x80"), std::string(257, 'a')}) {
        EXPECT_THROW(samrdir::encryptPasswordEx(password, kSessionKey, out), directory::Error) << password.size();
    }
    EXPECT_NO_THROW(samrdir::encryptPasswordEx(std::string(256, 'a'), kSessionKey, out));
    EXPECT_THROW(samrdir::encryptPasswordEx("a", {}, out), directory::Error);
}

} // namespace
