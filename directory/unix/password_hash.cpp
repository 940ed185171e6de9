#include "password_hash.h"

#include <crypt.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "directory/error.h"
#include "directory/secret.h"

namespace unixacct {
namespace {

struct Method {
    const char* prefix = nullptr; // null: libcrypt's default
    unsigned long count = 0;
};

Method methodFromLoginDefs(const std::string& path) {
    std::ifstream in(path);
    std::string line, method;
    unsigned long shaRounds = 0, yescryptCost = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        if (!(words >> key >> value) || key.front() == '#')
            continue;
        try {
            if (key == "ENCRYPT_METHOD")
                method = value;
            else if (key == "SHA_CRYPT_MAX_ROUNDS")
                shaRounds = std::stoul(value);
            else if (key == "YESCRYPT_COST_FACTOR")
                yescryptCost = std::stoul(value);
        } catch (const std::exception&) {
        }
    }
    if (method == "SHA512")
        return {"$6$", shaRounds};
    if (method == "SHA256")
        return {"$5$", shaRounds};
    if (method == "YESCRYPT")
        return {"$y$", yescryptCost};
    if (method == "MD5")
        return {"$1$", 0};
    return {};
}

struct CryptData {
    crypt_data data{};
    ~CryptData() { directory::secureZero(&data, sizeof data); }
};

// pam_unix's own choice on its "password" line, which is what passwd and chpasswd use on Debian.
std::optional<Method> methodFromPam(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        if (line.find("pam_unix.so") == std::string::npos)
            continue;
        std::istringstream words(line);
        std::string type, word;
        if (!(words >> type) || (type != "password" && type != "-password"))
            continue;
        std::optional<Method> method;
        unsigned long rounds = 0;
        while (words >> word) {
            if (word == "yescrypt")
                method = Method{"$y$", 0};
            else if (word == "sha512")
                method = Method{"$6$", 0};
            else if (word == "sha256")
                method = Method{"$5$", 0};
            else if (word == "blowfish")
                method = Method{"$2b$", 0};
            else if (word == "md5")
                method = Method{"$1$", 0};
            else if (word.rfind("rounds=", 0) == 0)
                try {
                    rounds = std::stoul(word.substr(7));
                } catch (const std::exception&) {
                }
        }
        if (method)
            method->count = rounds;
        return method;
    }
    return std::nullopt;
}

} // namespace

std::string hashPassword(std::string_view password, const std::string& loginDefsPath, const std::string& pamPath) {
    const Method method = methodFromPam(pamPath).value_or(methodFromLoginDefs(loginDefsPath));
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(method.prefix, method.count, nullptr, 0, setting, sizeof setting) &&
        !crypt_gensalt_rn(nullptr, 0, nullptr, 0, setting, sizeof setting))
        throw directory::Error(directory::codes::kFail, "パスワードの暗号化に使う salt を作れません。");
    std::string phrase(password);
    auto data = std::make_unique<CryptData>();
    const char* hash = crypt_rn(phrase.c_str(), setting, &data->data, sizeof data->data);
    directory::secureZero(phrase);
    if (!hash || hash[0] == '*')
        throw directory::Error(directory::codes::kFail, "パスワードを暗号化できません。");
    return hash;
}

bool passwordMatches(std::string_view password, const std::string& hash) {
    if (hash.empty() || hash[0] == '!' || hash[0] == '*')
        return false;
    std::string phrase(password);
    auto data = std::make_unique<CryptData>();
    const char* result = crypt_rn(phrase.c_str(), hash.c_str(), &data->data, sizeof data->data);
    directory::secureZero(phrase);
    return result && hash == result;
}

} // namespace unixacct
