#pragma once

#include <string>
#include <string_view>

namespace quill::unicode {

// UTF-8 to UTF-16 and back, the same on every platform. Ill-formed input never fails: each
// maximal ill-formed subsequence of UTF-8 (as the Unicode standard defines it) and each unpaired
// surrogate of UTF-16 becomes one U+FFFD, which is what Windows' own converters do. Well-formed
// text survives the round trip unchanged, embedded NULs included.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

} // namespace quill::unicode
