#include "host_identity.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <vector>

#include "ini_file.h"

namespace sysinfo {
namespace {

std::string toLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string toUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return toLower(a) == toLower(b);
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::string current;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!current.empty())
                items.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        items.push_back(std::move(current));
    return items;
}

// The first AD domain SSSD serves: a domain of [sssd] "domains" whose id_provider is "ad", named
// by its ad_domain or, failing that, by the section's own name.
std::string sssdAdDomain(const IniFile& sssd) {
    const auto domains = sssd.get("sssd", "domains");
    if (!domains)
        return {};
    for (const std::string& name : splitList(*domains)) {
        const std::string section = "domain/" + name;
        const auto provider = sssd.get(section, "id_provider");
        if (!provider || toLower(*provider) != "ad")
            continue;
        const auto adDomain = sssd.get(section, "ad_domain");
        return toLower(adDomain && !adDomain->empty() ? *adDomain : name);
    }
    return {};
}

// The canonical name /etc/hosts gives the short name, when that name is qualified.
std::string fullNameFromHosts(const std::string& hostsPath, const std::string& shortName) {
    std::ifstream in(hostsPath);
    std::string line;
    while (std::getline(in, line)) {
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string address, canonical;
        if (!(fields >> address >> canonical))
            continue;
        // An absolute name ("pc01.example.com.") is the same name; targets are compared without the dot.
        while (!canonical.empty() && canonical.back() == '.')
            canonical.pop_back();
        const std::string canonicalShort = canonical.substr(0, canonical.find('.'));
        if (canonical.find('.') != std::string::npos && equalsNoCase(canonicalShort, shortName))
            return canonical;
    }
    return {};
}

} // namespace

HostIdentity readHostIdentity(const IdentitySources& sources) {
    HostIdentity id;
    id.hostName = sources.hostName ? sources.hostName() : std::string();
    while (!id.hostName.empty() && id.hostName.back() == '.')
        id.hostName.pop_back();
    id.shortName = id.hostName.substr(0, id.hostName.find('.'));

    const IniFile smb = IniFile::load(sources.smbConfPath);
    if (const auto name = smb.get("global", "netbios name"); name && !name->empty())
        id.netbiosName = toUpper(*name);
    const auto workgroup = smb.get("global", "workgroup");
    id.workgroup = workgroup && !workgroup->empty() ? toUpper(*workgroup) : "WORKGROUP";

    const auto security = smb.get("global", "security");
    const auto realm = smb.get("global", "realm");
    if (security && toLower(*security) == "ads" && realm && !realm->empty())
        id.adDomain = toLower(*realm);
    if (id.adDomain.empty())
        id.adDomain = sssdAdDomain(IniFile::load(sources.sssdConfPath));
    while (!id.adDomain.empty() && id.adDomain.back() == '.')
        id.adDomain.pop_back(); // a DNS name written absolute is the same domain

    if (id.hostName.find('.') != std::string::npos)
        id.fullName = id.hostName;
    else if (!id.shortName.empty())
        id.fullName = fullNameFromHosts(sources.hostsPath, id.shortName);
    if (id.fullName.empty() && id.inDomain() && !id.shortName.empty())
        id.fullName = id.shortName + "." + id.adDomain;
    return id;
}

IdentitySources systemIdentitySources() {
    IdentitySources sources;
    sources.hostName = [] {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0)
            return std::string();
        return std::string(buffer);
    };
    return sources;
}

} // namespace sysinfo
