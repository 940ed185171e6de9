#include <gtest/gtest.h>

#include "system/unicode/utf_convert.h"

using quill::unicode::utf16ToUtf8;
using quill::unicode::utf8ToUtf16;

namespace {

struct Utf8Row {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

// Rows print as their names in test listings.
void PrintTo(const Utf8Row& row, std::ostream* out) {
    *out << row.name;
}

class Utf8ToUtf16 : public testing::TestWithParam<Utf8Row> {};

// Ill-formed input: one U+FFFD per maximal ill-formed subsequence, as Windows' converter gives.
TEST_P(Utf8ToUtf16, ConvertsAndReplacesEachBrokenSequenceOnce) {
    EXPECT_EQ(utf8ToUtf16(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Utf8ToUtf16,
                         testing::Values(Utf8Row{"Japanese", "山田 太郎", u"山田 太郎"},
                                         Utf8Row{"Emoji", "\xF0\x9F\x98\x80", u"\U0001F600"},
                                         Utf8Row{"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
                                         Utf8Row{"Overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                                         Utf8Row{"TruncatedAtEnd", "x\xE3\x81", u"x\uFFFD"},
                                         Utf8Row{"TruncatedBeforeAscii", "\xF0\x9F\x98z", u"\uFFFDz"},
                                         Utf8Row{"Surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                                         Utf8Row{"PastU10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                                         Utf8Row{"StrayContinuation", "\x80\xBF", u"\uFFFD\uFFFD"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(utf16ToUtf8(u"山田\U0001F600"), "山田\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD"
                                                                         "b");
    EXPECT_EQ(utf16ToUtf8(std::u16string{char16_t(0xDC00), char16_t(0xD83D)}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
