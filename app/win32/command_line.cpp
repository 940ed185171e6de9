#include "app/win32/command_line.h"

namespace quill::win32 {

std::wstring_view argumentsAfterProgramName(std::wstring_view commandLine) noexcept {
    std::size_t at = 0;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        // The platform takes the program name to the next quote: no escapes inside it.
        const auto close = commandLine.find(L'"', 1);
        at = close == std::wstring_view::npos ? commandLine.size() : close + 1;
    } else {
        at = commandLine.find_first_of(L" \t");
        if (at == std::wstring_view::npos)
            at = commandLine.size();
    }
    while (at < commandLine.size() && (commandLine[at] == L' ' || commandLine[at] == L'\t'))
        ++at;
    return commandLine.substr(at);
}

} // namespace quill::win32
