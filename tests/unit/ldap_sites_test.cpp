// Sites and read-only controllers: the LDAP ping's answers as Samba's controllers gave them, and
// the rules that no server here can show.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>

#include "directory/ldap/netlogon_ping.h"
#include "directory/ldap/read_only_controller.h"
#include "directory/ldap/site_locator.h"

namespace {

std::string base64(const char* text) {
    std::string out(std::strlen(text), '\0');
    out.resize(static_cast<std::size_t>(b64_pton(text, reinterpret_cast<unsigned char*>(out.data()), out.size())));
    return out;
}

TEST(LdapPing, TheClientsSiteAndTheControllersOwnAreReadFromItsAnswer) {
    const std::string head = base64("FwAAALwRAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMxwBgFUVVJTEwAA0RDMQAA"
                                    "CkhlYWRPZmZpY2UAwDkFAAAA/////w==");
    struct Row {
        const char* name;
        std::string answer;
        std::optional<std::tuple<std::string, std::string, std::uint32_t, bool>> expected; // sites, flags, writable
    };
    for (const Row& row : {
             Row{"head office at dc1", head, std::tuple{"HeadOffice", "HeadOffice", 0x11bc, true}},
             Row{"branch at dc1",
                 base64("FwAAADwRAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMxwBgFUVVJTEwAA0RDMQAACkhlYWRPZmZp"
                        "Y2UABkJyYW5jaAAFAAAA/////w=="),
                 std::tuple{"Branch", "HeadOffice", 0x113c, true}},
             Row{"branch at its read-only controller",
                 base64("FwAAALwIAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgEcm9kY8AYBVFVSUxMAARST0RDAAAGQnJhbmNo"
                        "AMA7BQAAAP////8="),
                 std::tuple{"Branch", "Branch", 0x8bc, false}},
             Row{"an address in no subnet",
                 base64("FwAAAD0RAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMywBgFUVVJTEwAA0RDMgAACkhlYWRPZmZp"
                        "Y2UAAAUAAAD/////"),
                 std::tuple{"", "HeadOffice", 0x113d, true}},
             Row{"cut short", head.substr(0, 40), std::nullopt},
             Row{"a byte too many", head + '\0', std::nullopt},
         }) {
        SCOPED_TRACE(row.name);
        const auto answer = ldapdir::decodePingAnswer(row.answer);
        EXPECT_EQ(answer ? std::tuple(answer->clientSite, answer->serverSite, answer->flags, answer->writable())
                         : decltype(row.expected)(),
                  row.expected);
    }
}

// Windows forwards a lockout to the PDC emulator (MS-SAMS 1.3) and replicates it urgently (MS-ADTS
// 3.1.1.5.1.6); Samba does neither, so only a lock the PDC emulator has seen gives way to its word.
TEST(ReadOnlyController, ALockItShowsGivesWayOnlyToAnAnswerThatHasSeenItOrToThisProgramsOwnUnlock) {
    constexpr std::int64_t kLock = 134411754131360880;
    using Pdc = std::optional<std::int64_t>;
    for (const auto& [name, pdc, clearedHere, stale] : {
             std::tuple{"the PDC emulator silent", Pdc{}, true, false},
             std::tuple{"MsAdts_3_1_1_5_1_6_UnlockedAtThePdcEmulatorThatHeldIt", Pdc{kLock}, false, true},
             std::tuple{"a later lockout at the PDC emulator, now over", Pdc{kLock + 1}, false, true},
             std::tuple{"not yet heard of at the PDC emulator", Pdc{0}, false, false},
             std::tuple{"cleared at the writable controllers here", Pdc{0}, true, true},
         })
        EXPECT_EQ(ldapdir::staleLock(kLock, pdc, clearedHere), stale) << name;
}

// A site's records are _ldap._tcp.SITE._sites.dc._msdcs.DOMAIN (MS-ADTS 6.3.2): a site name that
// is no DNS label is never put into a query.
TEST(SiteLocator, OnlyASiteNameThatIsOneDnsLabelIsLookedUp) {
    for (const auto& [site, label] :
         {std::pair{"Branch", true}, std::pair{"Default-First-Site-Name", true}, std::pair{"Head Office", false},
          std::pair{"a.b", false}, std::pair{"", false}, std::pair{"-x", false}, std::pair{"x\n", false}})
        EXPECT_EQ(ldapdir::SiteLocator::dnsLabel(site), label) << site;
}

} // namespace
