#include <string>

#include "directory/error.h"
#include "directory/ldap/ad_values.h"
#include "directory/unix/account_name.h"
#include "fuzz_check.h"
#include "system/unicode/utf_convert.h"

using quill::unicode::utf16ToUtf8;
using quill::unicode::utf8ToUtf16;

namespace {

bool wellFormedUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xDC00 && text[i] <= 0xDFFF)
            return false;
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
    }
    return true;
}

} // namespace

// Every UTF-8 reader of the program agrees on what is well formed, and the conversions are exact
// on well-formed text in both directions.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::u16string wide = utf8ToUtf16(bytes);
    FUZZ_CHECK(wellFormedUtf16(wide));
    FUZZ_CHECK(wide.size() <= bytes.size());
    const std::string back = utf16ToUtf8(wide);
    const bool valid = unixacct::isValidUtf8(bytes);
    FUZZ_CHECK(valid == (back == bytes));
    FUZZ_CHECK(unixacct::isValidUtf8(back));
    FUZZ_CHECK(utf8ToUtf16(back) == wide);

    // The password encoder reads UTF-8 the same way and writes the same UTF-16, quoted, little-endian.
    std::string password;
    bool encoded = true;
    try {
        ldapdir::encodePassword(bytes, password);
    } catch (const directory::Error&) {
        encoded = false;
    }
    FUZZ_CHECK(encoded == valid);
    if (encoded) {
        FUZZ_CHECK(password.size() == (wide.size() + 2) * 2);
        const std::u16string quoted = u"\"" + wide + u"\"";
        for (std::size_t i = 0; i < quoted.size(); ++i)
            FUZZ_CHECK(static_cast<unsigned char>(password[2 * i]) == (quoted[i] & 0xFF) &&
                       static_cast<unsigned char>(password[2 * i + 1]) == (quoted[i] >> 8));
    }

    // Any sequence of 16-bit units converts to well-formed UTF-8; well-formed units come back unchanged.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::string utf8 = utf16ToUtf8(units);
    FUZZ_CHECK(unixacct::isValidUtf8(utf8));
    FUZZ_CHECK((utf8ToUtf16(utf8) == units) == wellFormedUtf16(units));
    return 0;
}
