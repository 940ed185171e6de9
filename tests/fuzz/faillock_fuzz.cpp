#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "directory/unix/faillock.h"
#include "fuzz_check.h"

using namespace unixacct;

namespace {

// pam_faillock's decision in exact arithmetic, as the reference. Like pam_faillock it picks the
// latest failure in unsigned order and then reads it as a signed time_t.
bool referenceLockedOut(const std::vector<TallyRecord>& records, const FaillockConfig& config, bool isRoot,
                        std::time_t now) {
    if (config.deny == 0 || (isRoot && !config.evenDenyRoot))
        return false;
    __int128 latest = 0;
    for (const auto& r : records)
        if ((r.status & kTallyStatusValid) && static_cast<__int128>(r.time) > latest)
            latest = r.time;
    unsigned long long failures = 0;
    for (const auto& r : records)
        if ((r.status & kTallyStatusValid) && latest - r.time < config.failInterval)
            ++failures;
    if (failures < config.deny)
        return false;
    const __int128 unlock = isRoot ? config.rootUnlockTime : config.unlockTime;
    return unlock == 0 || static_cast<std::int64_t>(static_cast<std::uint64_t>(latest)) + unlock >= now;
}

} // namespace

// faillock.conf (or PAM) text, then a tally file's bytes; the clock and the account's kind come first.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto now = in.ConsumeIntegral<std::int64_t>();
    const bool isRoot = in.ConsumeBool();
    const std::string text = in.ConsumeRandomLengthString(512);
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    // The same text as a PAM file: pam_faillock.so arguments override faillock.conf.
    FaillockConfig config = parseFaillockConfig(text);
    const auto pamLines = faillockPamArguments(text);
    FUZZ_CHECK(pamLines.size() <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (const auto& arguments : pamLines)
        for (const std::string& argument : arguments) {
            FUZZ_CHECK(argument.find_first_of("\n#") == std::string::npos);
            const auto eq = argument.find('=');
            applyFaillockSetting(config, std::string_view(argument).substr(0, eq),
                                 eq == std::string::npos ? std::string_view()
                                                         : std::string_view(argument).substr(eq + 1));
        }

    // Settings stay within what pam_faillock itself accepts.
    constexpr long long kWeek = 604800;
    FUZZ_CHECK(config.unlockTime >= 0 && config.unlockTime <= kWeek);
    FUZZ_CHECK(config.rootUnlockTime >= 0 && config.rootUnlockTime <= kWeek);
    FUZZ_CHECK(config.failInterval >= 0 && config.failInterval <= kWeek);
    FUZZ_CHECK(!config.dir.empty() && config.dir.front() == '/');

    const auto records = parseTally(bytes);
    FUZZ_CHECK(records.size() == bytes.size() / kTallyRecordSize);
    // Records whose source fits pam_faillock's field come back byte for byte.
    const auto again = parseTally(encodeTally(records));
    FUZZ_CHECK(again.size() == records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        FUZZ_CHECK(records[i].source.size() <= 52);
        FUZZ_CHECK(again[i].status == records[i].status && again[i].time == records[i].time);
        if (records[i].source.size() < 52)
            FUZZ_CHECK(again[i].source == records[i].source);
    }
    FUZZ_CHECK(isLockedOut(records, config, isRoot, static_cast<std::time_t>(now)) ==
               referenceLockedOut(records, config, isRoot, static_cast<std::time_t>(now)));
    return 0;
}
