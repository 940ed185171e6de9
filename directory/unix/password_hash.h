#pragma once

#include <string>
#include <string_view>

namespace unixacct {

// The shadow hash of a password with the method and cost login.defs names (ENCRYPT_METHOD,
// SHA_CRYPT_MAX_ROUNDS, YESCRYPT_COST_FACTOR), as chpasswd would choose them; libcrypt's
// preferred method when the file names none. A fresh random salt each time. Every buffer that
// held the password is zeroed. Throws directory::Error when no hash can be made.
std::string hashPassword(std::string_view password, const std::string& loginDefsPath = "/etc/login.defs");

// True when password hashes to hash (which carries no "!" in front).
bool passwordMatches(std::string_view password, const std::string& hash);

} // namespace unixacct
