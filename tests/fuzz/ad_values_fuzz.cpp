#include <fuzzer/FuzzedDataProvider.h>

#include "directory/ldap/ad_values.h"
#include "fuzz_check.h"

using namespace ldapdir;

namespace {

// The decimal forms a server may send for a 32-bit flag word, read with exact arithmetic.
std::optional<std::uint32_t> referenceFlags(std::string_view text) {
    bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    __int128 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = std::min<__int128>(value * 10 + (c - '0'), __int128(1) << 64); // anything past 64 bits is too big
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto rid = in.ConsumeIntegral<std::uint32_t>();
    const bool asNumber = in.ConsumeBool();
    const std::string text = in.ConsumeRemainingBytesAsString();

    // userAccountControl and msDS-User-Account-Control-Computed: exactly the 32-bit integers.
    FUZZ_CHECK(parseAccountControl(text) == referenceFlags(text));
    FUZZ_CHECK(parseAccountControl(std::to_string(rid)) == rid);
    FUZZ_CHECK(parseAccountControl(std::to_string(static_cast<std::int32_t>(rid))) == rid);
    if (asNumber) {
        // sAMAccountType: the same reading, then one of the known kinds.
        const auto kind = accountKind(std::to_string(rid));
        FUZZ_CHECK(kind == (rid == 0x30000000 ? AccountKind::User
                            : (rid == 0x10000000 || rid == 0x10000001 || rid == 0x20000000 || rid == 0x20000001)
                                ? AccountKind::Group
                                : AccountKind::Other));
    }
    const auto kind = accountKind(text);
    if (kind != AccountKind::Other)
        FUZZ_CHECK(referenceFlags(text).has_value());

    // A SID gains exactly one sub-authority, the relative id, and is otherwise unchanged.
    const auto sid = sidWithRid(text, rid);
    const bool wellFormed = text.size() >= 8 && text[0] == 1 && static_cast<unsigned char>(text[1]) <= 14 &&
                            text.size() == 8 + 4 * static_cast<std::size_t>(static_cast<unsigned char>(text[1]));
    FUZZ_CHECK(sid.has_value() == wellFormed);
    if (sid) {
        FUZZ_CHECK(sid->size() == text.size() + 4);
        FUZZ_CHECK(static_cast<unsigned char>((*sid)[1]) == static_cast<unsigned char>(text[1]) + 1);
        FUZZ_CHECK(sid->compare(2, text.size() - 2, text, 2) == 0 && (*sid)[0] == text[0]);
        std::uint32_t back = 0;
        for (int k = 0; k < 4; ++k)
            back |= static_cast<std::uint32_t>(static_cast<unsigned char>((*sid)[text.size() + k])) << (8 * k);
        FUZZ_CHECK(back == rid);
        // A SID with the most sub-authorities a SID can hold takes no more.
        FUZZ_CHECK(static_cast<unsigned char>((*sid)[1]) <= 15);
    }
    return 0;
}
