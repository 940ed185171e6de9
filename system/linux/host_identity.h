#pragma once

#include <functional>
#include <string>

namespace sysinfo {

// Where the computer's identity is read from. Tests point these at fixture files.
struct IdentitySources {
    std::string smbConfPath = "/etc/samba/smb.conf";
    std::string sssdConfPath = "/etc/sssd/sssd.conf";
    std::string hostsPath = "/etc/hosts";
    // The kernel's host name; empty when it cannot be had.
    std::function<std::string()> hostName;
};

// What this computer is called and which domain or workgroup it belongs to.
struct HostIdentity {
    std::string hostName;    // as the kernel reports it, possibly already qualified
    std::string shortName;   // hostName up to its first full stop
    std::string fullName;    // the fully qualified name when known, else empty
    std::string netbiosName; // smb.conf "netbios name", upper case, or empty
    std::string adDomain;    // the Active Directory DNS domain the host is joined to, lower case, or empty
    std::string workgroup;   // smb.conf "workgroup", upper case, "WORKGROUP" when not set

    bool inDomain() const noexcept { return !adDomain.empty(); }
    // The computer-system record's Domain: the joined domain, else the workgroup.
    const std::string& domainOrWorkgroup() const noexcept { return inDomain() ? adDomain : workgroup; }
    // The computer-system record's Name: the NetBIOS name, else the short host name.
    const std::string& computerName() const noexcept { return netbiosName.empty() ? shortName : netbiosName; }
};

// Reads the identity. Missing files are no error: they simply contribute nothing. Never touches
// the network: the fully qualified name comes from the host name itself, /etc/hosts or the
// joined domain.
HostIdentity readHostIdentity(const IdentitySources& sources);

// The sources of the running system (gethostname and the standard paths).
IdentitySources systemIdentitySources();

} // namespace sysinfo
