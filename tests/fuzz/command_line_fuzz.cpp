#include <algorithm>
#include <string>

#include "app/win32/command_line.h"
#include "fuzz_check.h"
#include "system/unicode/utf_convert.h"

using quill::win32::argumentsAfterProgramName;

namespace {

bool blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

} // namespace

// Any 16-bit units as GetCommandLineW may hand them over, unpaired surrogates included.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::wstring line(units.begin(), units.end());

    // The arguments are the tail of the line, after the name and the blanks that follow it.
    const std::wstring_view arguments = argumentsAfterProgramName(line);
    FUZZ_CHECK(arguments.size() <= line.size());
    FUZZ_CHECK(arguments.data() == line.data() + (line.size() - arguments.size()));
    FUZZ_CHECK(arguments.empty() || !blank(arguments.front()));
    std::wstring_view name = std::wstring_view(line).substr(0, line.size() - arguments.size());
    while (!name.empty() && blank(name.back()))
        name.remove_suffix(1);
    if (!line.empty() && line.front() == L'"') {
        // A quoted name runs to the next quote, spaces and all; an unclosed one takes everything.
        const auto close = std::wstring_view(line).find(L'"', 1);
        FUZZ_CHECK(close == std::wstring_view::npos ? arguments.empty() : name.size() >= close + 1);
        if (close != std::wstring_view::npos && name.size() > close + 1)
            FUZZ_CHECK(false);
    } else {
        FUZZ_CHECK(std::find_if(name.begin(), name.end(), blank) == name.end());
    }

    // The same arguments come back behind any other program name, and convert to UTF-8 whole.
    const std::wstring tail(arguments);
    FUZZ_CHECK(argumentsAfterProgramName(L"q.exe " + tail) == arguments);
    FUZZ_CHECK(argumentsAfterProgramName(L"\"C:\\Program Files\\q.exe\"\t " + tail) == arguments);
    const std::u16string wide(tail.begin(), tail.end());
    const std::string utf8 = quill::unicode::utf16ToUtf8(wide);
    FUZZ_CHECK(quill::unicode::utf8ToUtf16(utf8).size() == wide.size());
    return 0;
}
