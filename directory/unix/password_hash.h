#pragma once

#include <string>
#include <string_view>

namespace unixacct {

// The shadow hash of a password with the method passwd and chpasswd would use: the one named on
// pam_unix's password line (yescrypt, sha512, ..., rounds=), else login.defs (ENCRYPT_METHOD,
// SHA_CRYPT_MAX_ROUNDS, YESCRYPT_COST_FACTOR), else libcrypt's preferred one. A fresh random
// salt each time. Every buffer that held the password is zeroed. Throws directory::Error when no
// hash can be made.
std::string hashPassword(std::string_view password, const std::string& loginDefsPath = "/etc/login.defs",
                         const std::string& pamPath = "/etc/pam.d/common-password");

// True when password hashes to hash (which carries no "!" in front).
bool passwordMatches(std::string_view password, const std::string& hash);

} // namespace unixacct
