#pragma once

#include <string_view>

namespace quill::win32 {

// The program's command-line text after its own name, as one string (GetCommandLineW's text).
// The name ends at the closing quote when it starts with one, else at the first space or tab;
// the spaces and tabs after it are skipped. Everything else, inner and trailing spaces and
// quotes included, is kept as the platform handed it over.
std::wstring_view argumentsAfterProgramName(std::wstring_view commandLine) noexcept;

} // namespace quill::win32
