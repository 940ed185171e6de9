#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "system/linux/host_computer_system.h"
#include "system/linux/ini_file.h"
#include "system/linux/this_computer.h"
#include "temp_dir.h"

namespace {

using sysinfo::HostIdentity;
using sysinfo::IdentitySources;
using sysinfo::IniFile;

TEST(IniFile, ReadsSambaSyntax) {
    const IniFile file = IniFile::parse("; comment\n"
                                        "# another\n"
                                        "[ Global ]\n"
                                        "  NetBIOS Name = pc01 \r\n"
                                        "workgroup = \\\n"
                                        "   home\n"
                                        "realm=IGNORED.EXAMPLE\n"
                                        "[homes]\n"
                                        "realm = NOT.GLOBAL\n"
                                        "[global]\n"
                                        "realm = Corp.Example\n"
                                        "broken line without equals\n"
                                        "[unterminated\n"
                                        "security = ads\n");
    EXPECT_EQ(file.get("global", "netbiosname"), "pc01");
    EXPECT_EQ(file.get("GLOBAL", "net bios name"), "pc01");
    EXPECT_EQ(file.get("global", "workgroup"), "home");
    EXPECT_EQ(file.get("global", "realm"), "Corp.Example"); // the later value wins
    EXPECT_EQ(file.get("homes", "realm"), "NOT.GLOBAL");
    EXPECT_EQ(file.get("global", "security"), "ads"); // a broken header leaves the section as it was
    EXPECT_FALSE(file.get("global", "server role"));
}

TEST(IniFile, FollowsIncludesButNotForever) {
    int reads = 0;
    const auto reader = [&](const std::string& path) -> std::string {
        ++reads;
        if (path == "/etc/samba/extra.conf")
            return "workgroup = FROMINCLUDE\ninclude = /etc/samba/extra.conf\n";
        return {};
    };
    const IniFile file =
        IniFile::parse("[global]\ninclude = /etc/samba/%m.conf\ninclude = /etc/samba/extra.conf\n", reader);
    EXPECT_EQ(file.get("global", "workgroup"), "FROMINCLUDE");
    EXPECT_EQ(reads, 1); // a file is not read again inside itself; %-macros are not followed
}

TEST(IniFile, RepeatedIncludesStayBounded) {
    // Each file includes both, many times: followed naively that is 20^8 reads.
    int reads = 0;
    std::string twice;
    for (int i = 0; i < 10; ++i)
        twice += "include = a.conf\ninclude = b.conf\n";
    const IniFile file = IniFile::parse("[global]\n" + twice, [&](const std::string&) {
        ++reads;
        return "realm = R" + std::to_string(reads) + "\n" + twice;
    });
    EXPECT_LE(reads, 32);
    EXPECT_EQ(file.get("global", "realm"), "R" + std::to_string(reads));
}

TEST(IniFile, IncludesOnlyRegularFiles) {
    // A FIFO would block the program at start-up until something wrote to it.
    testutil::TempDir dir;
    const std::string fifo = dir.path() + "/fifo.conf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const IniFile file = IniFile::load(
        dir.write("smb.conf", "[global]\ninclude = " + fifo + "\ninclude = /dev/zero\nworkgroup = LAB\n"));
    EXPECT_EQ(file.get("global", "workgroup"), "LAB");
}

class Identity : public testing::Test {
protected:
    IdentitySources sources(const std::string& smb, const std::string& sssd = {}, const std::string& hosts = {},
                            const std::string& hostName = "pc01") {
        IdentitySources s;
        s.smbConfPath = dir.write("smb.conf", smb);
        s.sssdConfPath = sssd.empty() ? dir.path() + "/missing-sssd.conf" : dir.write("sssd.conf", sssd);
        s.hostsPath = hosts.empty() ? dir.path() + "/missing-hosts" : dir.write("hosts", hosts);
        s.hostName = [hostName] { return hostName; };
        return s;
    }
    testutil::TempDir dir;
};

TEST_F(Identity, ComputerSystemRecordFromEachSource) {
    struct Row {
        const char* name;
        std::string smb, sssd, hostName;
        std::string domain, computer;
    };
    const Row rows[] = {
        {"nothing at all", "", "", "pc01", "WORKGROUP", "pc01"},
        {"workgroup upper-cased like Samba", "[global]\nworkgroup = home\n", "", "pc01", "HOME", "pc01"},
        {"netbios name", "[global]\nnetbios name = fileserver\n", "", "pc01", "WORKGROUP", "FILESERVER"},
        {"qualified host name", "", "", "pc01.corp.example", "WORKGROUP", "pc01"},
        {"ads member", "[global]\nworkgroup = CORP\nsecurity = ADS\nrealm = CORP.EXAMPLE.COM\n", "", "pc01",
         "corp.example.com", "pc01"},
        {"realm without ads is no join", "[global]\nworkgroup = CORP\nsecurity = user\nrealm = CORP.EXAMPLE\n", "",
         "pc01", "CORP", "pc01"},
        {"sssd ad_domain", "",
         "[sssd]\ndomains = local, corp\n[domain/local]\nid_provider = files\n"
         "[domain/corp]\nid_provider = ad\nad_domain = Corp.Example.Com\n",
         "pc01", "corp.example.com", "pc01"},
        {"sssd section name", "", "[sssd]\ndomains = ad.example\n[domain/ad.example]\nid_provider = ad\n", "pc01",
         "ad.example", "pc01"},
        {"sssd ldap is no AD", "[global]\nworkgroup = LAB\n", "[sssd]\ndomains = x\n[domain/x]\nid_provider = ldap\n",
         "pc01", "LAB", "pc01"},
        {"no host name", "", "", "", "WORKGROUP", ""},
    };
    for (const Row& row : rows) {
        sysinfo::HostComputerSystem query(sources(row.smb, row.sssd, {}, row.hostName));
        const auto systems = query.query();
        ASSERT_EQ(systems.size(), 1u) << row.name;
        EXPECT_EQ(systems[0].Domain, row.domain) << row.name;
        EXPECT_EQ(systems[0].Name, row.computer) << row.name;
        EXPECT_EQ(systems[0].PartOfDomain, row.domain.find('.') != std::string::npos) << row.name; // joined: DNS name
    }
}

TEST_F(Identity, FullNameFromHostsFileOrJoinedDomain) {
    EXPECT_EQ(sysinfo::readHostIdentity(sources("", "", "127.0.0.1 localhost\n127.0.1.1 pc01.lab.example pc01 # me\n"))
                  .fullName,
              "pc01.lab.example");
    EXPECT_EQ(sysinfo::readHostIdentity(sources("", "", "127.0.1.1 pc011.lab.example pc011\n")).fullName, "");
    // An absolute name is the same name: without the dot it matches what an administrator types.
    const HostIdentity absolute = sysinfo::readHostIdentity(sources("", "", "127.0.1.1 pc01.lab.example. pc01\n"));
    EXPECT_EQ(absolute.fullName, "pc01.lab.example");
    EXPECT_TRUE(sysinfo::namesComputer("PC01.lab.example", absolute));
    EXPECT_EQ(sysinfo::readHostIdentity(sources("[global]\nsecurity=ads\nrealm=AD.EXAMPLE.\n")).fullName,
              "pc01.ad.example");
    EXPECT_EQ(sysinfo::readHostIdentity(sources("[global]\nsecurity=ads\nrealm=AD.EXAMPLE\n")).fullName,
              "pc01.ad.example");
}

TEST(NamesComputer, WhichTargetsAreThisComputer) {
    HostIdentity workgroup;
    workgroup.hostName = workgroup.shortName = "pc01";
    workgroup.fullName = "pc01.lab.example";
    workgroup.netbiosName = "FILESRV";
    workgroup.workgroup = "HOME";
    HostIdentity joined = workgroup;
    joined.fullName.clear();
    joined.adDomain = "corp.example";
    joined.workgroup = "CORP";

    struct Row {
        std::string target;
        bool inWorkgroup, inDomain;
    };
    const Row rows[] = {
        {"", true, true},
        {".", true, true},
        {"localhost", true, true},
        {"LocalHost.", true, true},
        {"127.0.0.1", true, true},
        {"127.255.3.9", true, true},
        {"::1", true, true},
        {"[::1]", true, true},
        {"::ffff:127.0.0.1", true, true},
        {"PC01", true, true},
        {"pc01.", true, true},
        {"PC01.lab.example", true, false},
        {"pc01.lab.example.", true, false},
        {"pc01.corp.example", false, true},
        {"filesrv", true, true},
        {"HOME", true, false},
        {"home", true, false},
        {"CORP", false, false},
        {"corp.example", false, false},
        {"WORKGROUP", false, false},
        {"pc01..", false, false},
        {" pc01", false, false},
        {"128.0.0.1", false, false},
        {"::2", false, false},
        {"pc0", false, false},
        {"pc01.other", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sysinfo::namesComputer(row.target, workgroup), row.inWorkgroup) << '"' << row.target << '"';
        EXPECT_EQ(sysinfo::namesComputer(row.target, joined), row.inDomain) << '"' << row.target << '"';
    }
}

TEST(NamesComputer, RunningSystemAnswersForItsOwnHostName) {
    const HostIdentity id = sysinfo::readHostIdentity(sysinfo::systemIdentitySources());
    ASSERT_FALSE(id.hostName.empty());
    EXPECT_TRUE(sysinfo::namesThisComputer(id.hostName));
    EXPECT_TRUE(sysinfo::namesThisComputer(id.computerName() + "."));
    EXPECT_TRUE(sysinfo::namesThisComputer(""));
    EXPECT_FALSE(sysinfo::namesThisComputer("no-such-host.invalid"));
}

} // namespace
