#include <algorithm>
#include <cstdint>
#include <string>

#include "directory/error.h"
#include "directory/unix/sudoers.h"
#include "fuzz_check.h"

using unixacct::SudoersNames;

namespace {

// Parses one file; nothing when the reader refuses it, as it must for what it cannot read.
bool parse(const std::string& text, SudoersNames& names) {
    try {
        unixacct::parseSudoers(text, "sudoers", names, [](const std::string&, bool) {});
        return true;
    } catch (const directory::Error&) {
        return false;
    }
}

template <class Set> bool includes(const Set& whole, const Set& part) {
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

} // namespace

// The reader may name more than sudo would grant, never less: whatever a file names is still
// named with a line added after it, and an added grant is always seen, or the whole file refused.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // A trailing backslash, blanks after it allowed, would join the added line to the file's last one.
    while (!text.empty() && (text.back() == '\\' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    SudoersNames alone;
    if (!parse(text, alone))
        return 0;
    SudoersNames grown;
    if (!parse(text + "\nzz9 ALL=(ALL:ALL) ALL\n%gz9 ALL=(ALL) ALL\n", grown))
        return 0;
    FUZZ_CHECK(grown.users.count("zz9") == 1 && grown.groups.count("gz9") == 1);
    FUZZ_CHECK(includes(grown.users, alone.users) && includes(grown.groups, alone.groups));
    FUZZ_CHECK(includes(grown.uids, alone.uids) && includes(grown.gids, alone.gids));
    FUZZ_CHECK(grown.everyone || !alone.everyone);
    return 0;
}
