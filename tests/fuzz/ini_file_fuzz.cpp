#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <vector>

#include "fuzz_check.h"
#include "system/linux/ini_file.h"

using sysinfo::IniFile;

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace

// The main file and up to three more it may include as "a", "b" and "c", any of which may include
// any other or itself, repeatedly.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::map<std::string, std::string> files;
    for (const char* name : {"a", "b", "c"})
        files[name] = in.ConsumeRandomLengthString(256);
    const std::string main = in.ConsumeRemainingBytesAsString();

    std::size_t reads = 0, bytes = 0;
    const IniFile ini = IniFile::parse(main, [&](const std::string& path) {
        ++reads;
        const auto found = files.find(path);
        const std::string text = found == files.end() ? std::string() : found->second;
        bytes += text.size();
        return text;
    });
    // Work stays bounded whatever the files say: a few dozen includes at most, never one per path
    // through a cycle.
    FUZZ_CHECK(reads <= 32 && bytes <= 32 * 256);

    const std::vector<std::string> sections = ini.sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::string& section = sections[i];
        FUZZ_CHECK(section.empty() || (!isSpace(section.front()) && !isSpace(section.back())));
        FUZZ_CHECK(section.find(']') == std::string::npos);
        FUZZ_CHECK(IniFile::canonicalName(IniFile::canonicalName(section)) == IniFile::canonicalName(section));
        // Each lookup walks every entry, so lookups in every section of a large input would make
        // the run quadratic; the first few sections and the last one show the same paths.
        if (i >= 6 && i + 1 != sections.size())
            continue;
        // Lookups ignore case and whitespace in both names, and values come trimmed.
        for (const char* key : {"include", "netbios name", "workgroup", "realm", "domains", "id_provider"}) {
            const auto value = ini.get(section, key);
            FUZZ_CHECK(ini.get(upper(section), upper(key)) == value);
            FUZZ_CHECK(ini.get(" " + section + "\t", IniFile::canonicalName(key)) == value);
            if (value && !value->empty())
                FUZZ_CHECK(!isSpace(value->front()) && !isSpace(value->back()));
        }
        FUZZ_CHECK(!ini.get(section, "include")); // followed, never kept as a value
    }
    return 0;
}
