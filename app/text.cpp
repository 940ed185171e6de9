#include "app/text.h"

namespace app {

namespace {
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";

bool startsWithSpace(std::string_view s, std::size_t& width) {
    if (!s.empty() && s.front() == ' ')
        return width = 1, true;
    if (s.substr(0, kIdeographicSpace.size()) == kIdeographicSpace)
        return width = kIdeographicSpace.size(), true;
    return false;
}

bool endsWithSpace(std::string_view s, std::size_t& width) {
    if (!s.empty() && s.back() == ' ')
        return width = 1, true;
    if (s.size() >= kIdeographicSpace.size() && s.substr(s.size() - kIdeographicSpace.size()) == kIdeographicSpace)
        return width = kIdeographicSpace.size(), true;
    return false;
}
} // namespace

std::string trimSpaces(std::string_view text) {
    std::size_t width = 0;
    while (startsWithSpace(text, width))
        text.remove_prefix(width);
    while (endsWithSpace(text, width))
        text.remove_suffix(width);
    return std::string(text);
}

bool isBlank(std::string_view text) {
    return trimSpaces(text).empty();
}

} // namespace app
