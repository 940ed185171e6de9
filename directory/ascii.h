#pragma once

#include <string>
#include <string_view>

namespace directory {

// Host, domain and account names compare without case, in ASCII only, as DNS and the directories do.
inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace directory
