#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "memory_file.h"
#include "system/linux/host_identity.h"
#include "system/linux/this_computer.h"

namespace {

bool hasSpace(std::string_view s) {
    return s.find_first_of(" \t\r\n\f\v") != std::string_view::npos;
}

bool hasLower(std::string_view s) {
    return s.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string_view::npos;
}

bool hasUpper(std::string_view s) {
    return s.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string_view::npos;
}

} // namespace

// smb.conf, sssd.conf and /etc/hosts as the input gives them, and a host name.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string hostName = in.ConsumeRandomLengthString(64);
    // The same three files for every run, their content replaced.
    static MemoryFile smb, sssd, hosts;
    smb.replace(in.ConsumeRandomLengthString(512));
    sssd.replace(in.ConsumeRandomLengthString(512));
    const std::string hostsText = in.ConsumeRemainingBytesAsString();
    hosts.replace(hostsText);

    sysinfo::IdentitySources sources;
    sources.smbConfPath = smb.path();
    sources.sssdConfPath = sssd.path();
    sources.hostsPath = hosts.path();
    sources.hostName = [&] { return hostName; };
    const sysinfo::HostIdentity id = sysinfo::readHostIdentity(sources);

    FUZZ_CHECK(id.hostName.empty() || id.hostName.back() != '.');
    FUZZ_CHECK(id.shortName.find('.') == std::string::npos);
    FUZZ_CHECK(!id.workgroup.empty() && !hasLower(id.workgroup) && !hasLower(id.netbiosName));
    FUZZ_CHECK(!hasUpper(id.adDomain));
    if (!id.fullName.empty()) {
        // A full name is qualified and names this host.
        FUZZ_CHECK(id.fullName.find('.') != std::string::npos);
        const std::string first = id.fullName.substr(0, id.fullName.find('.'));
        FUZZ_CHECK(first.size() == id.shortName.size());
        if (id.fullName != id.hostName && id.fullName != id.shortName + "." + id.adDomain) {
            // It came from the hosts file, as one whole field.
            FUZZ_CHECK(!hasSpace(id.fullName) && id.fullName.find('#') == std::string::npos);
            FUZZ_CHECK(hostsText.find(id.fullName) != std::string::npos);
        }
    }
    // Every name the computer answers to is recognised as this computer, with or without the dot
    // of an absolute name.
    for (const std::string* name : {&id.shortName, &id.fullName, &id.netbiosName})
        if (!name->empty() && !hasSpace(*name) && name->back() != '.') {
            FUZZ_CHECK(sysinfo::namesComputer(*name, id));
            FUZZ_CHECK(sysinfo::namesComputer(*name + ".", id));
        }
    FUZZ_CHECK(id.fullName.empty() || id.fullName.back() != '.');
    return 0;
}
