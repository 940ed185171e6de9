#include "directory/error.h"
#include "directory/unix/account_name.h"
#include "fuzz_check.h"

using namespace unixacct;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const bool safe = isSafeAccountName(name);

    // A safe name is one argument and one file field: nothing a tool or a colon-separated file
    // would read as structure.
    if (safe) {
        FUZZ_CHECK(!name.empty() && name.size() <= kMaxAccountNameLength && name.front() != '-');
        FUZZ_CHECK(name != "." && name != "..");
        FUZZ_CHECK(isValidUtf8(name) && isSafeGecos(name));
        for (const unsigned char c : name)
            FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != ':' && c != ',' && c != '/' && c != '\n');
    }
    if (isSafeGecos(name))
        FUZZ_CHECK(name.find_first_of(std::string_view(":\n\r\0", 4)) == std::string_view::npos);

    bool threw = false;
    try {
        checkAccountName(name);
    } catch (const directory::Error& e) {
        threw = true;
        FUZZ_CHECK(e.number() == directory::codes::kBadPathName);
    }
    FUZZ_CHECK(threw == !safe);
    return 0;
}
