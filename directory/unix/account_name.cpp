#include "account_name.h"

#include <string>

#include "directory/error.h"

namespace unixacct {
namespace {

bool hasControlCharacter(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

} // namespace

bool isValidUtf8(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

bool isSafeAccountName(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxAccountNameLength || name.front() == '-' || name == "." || name == "..")
        return false;
    if (name.find_first_of(":,/") != std::string_view::npos || hasControlCharacter(name))
        return false;
    return isValidUtf8(name);
}

void checkAccountName(std::string_view name) {
    if (isSafeAccountName(name))
        return;
    std::string why;
    if (name.empty())
        why = "空です";
    else if (name.size() > kMaxAccountNameLength)
        why = "32 バイトを超えています";
    else if (name.front() == '-')
        why = "「-」で始まっています";
    else if (!isValidUtf8(name))
        why = "UTF-8 として正しくありません";
    else
        why = "名前に使えない文字を含んでいます";
    throw directory::Error(directory::codes::kBadPathName, "ローカルアカウント名が正しくありません（" + why + "）。");
}

bool isSafeGecos(std::string_view text) noexcept {
    return text.find(':') == std::string_view::npos && !hasControlCharacter(text) && isValidUtf8(text);
}

} // namespace unixacct
