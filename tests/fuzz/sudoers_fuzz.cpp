#include <algorithm>
#include <cstdint>
#include <string>

#include "directory/error.h"
#include "directory/unix/sudoers.h"
#include "fuzz_check.h"

// The reader may name more than sudo would grant, never less: whatever a file names is still
// named with a line added after it, and an added grant is always seen, or the whole file refused.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // False when the reader refuses the file, as it must for what it cannot read.
    const auto parse = [](const std::string& text, unixacct::SudoersNames& names) {
        try {
            unixacct::parseSudoers(text, "sudoers", names, [](const std::string&, bool) {});
            return true;
        } catch (const directory::Error&) {
            return false;
        }
    };
    const auto includes = [](const auto& all, const auto& part) {
        return std::includes(all.begin(), all.end(), part.begin(), part.end());
    };
    std::string text(reinterpret_cast<const char*>(data), size);
    // A trailing backslash, blanks after it allowed, would join the added line to the file's last one.
    text.erase(text.find_last_not_of("\\\r \t") + 1);
    unixacct::SudoersNames alone, grown;
    if (!parse(text, alone) || !parse(text + "\nzz9 ALL=(ALL:ALL) ALL\n%gz9 ALL=(ALL) ALL\n", grown))
        return 0;
    FUZZ_CHECK(grown.users.count("zz9") == 1 && grown.groups.count("gz9") == 1);
    FUZZ_CHECK(includes(grown.users, alone.users) && includes(grown.groups, alone.groups));
    FUZZ_CHECK(includes(grown.uids, alone.uids) && includes(grown.gids, alone.gids));
    FUZZ_CHECK(grown.everyone || !alone.everyone);
    return 0;
}
