#include "directory/ldap/ad_values.h"
#include "fuzz_check.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads an assertion value the way a server does; nothing when an escape is broken or a special
// character stands unescaped.
std::optional<std::string> unescape(std::string_view escaped) {
    std::string out;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c == '*' || c == '(' || c == ')' || c == '\0')
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 2 >= escaped.size())
            return std::nullopt;
        const int high = hexValue(escaped[i + 1]), low = hexValue(escaped[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);

    // Escaping then unescaping gives the value back, and no special character stands unescaped.
    const std::string escaped = ldapdir::escapeFilterValue(value);
    FUZZ_CHECK(unescape(escaped) == value);
    // Only what must be escaped is: every other byte, UTF-8 included, passes as it is.
    std::size_t specials = 0;
    for (const char c : value)
        specials += c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0';
    FUZZ_CHECK(escaped.size() == value.size() + 2 * specials);

    const std::string bytes = ldapdir::escapeFilterBytes(value);
    FUZZ_CHECK(bytes.size() == 3 * value.size());
    FUZZ_CHECK(unescape(bytes) == value);
    return 0;
}
