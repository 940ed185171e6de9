// Sites and read-only controllers: the LDAP ping's answers as Samba's controllers gave them, and
// the rules that no server here can show.
#include <gtest/gtest.h>

#include "directory/ldap/netlogon_ping.h"
#include "directory/ldap/read_only_controller.h"
#include "directory/ldap/site_locator.h"

namespace {

std::string base64(std::string_view text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text)
        if (const auto at = kAlphabet.find(c); at != std::string::npos) {
            buffer = (buffer << 6) | static_cast<unsigned>(at);
            if ((bits += 6) >= 8)
                out += static_cast<char>((buffer >> (bits -= 8)) & 0xFF);
        }
    return out;
}

TEST(LdapPing, TheClientsSiteAndTheControllersOwnAreReadFromItsAnswer) {
    const std::string head = base64("FwAAALwRAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMxwBgFUVVJTEwAA0RDMQAA"
                                    "CkhlYWRPZmZpY2UAwDkFAAAA/////w==");
    struct Row {
        const char* name;
        std::string answer;
        std::optional<ldapdir::PingAnswer> expected;
    };
    for (const Row& row : {
             Row{"head office at dc1", head, ldapdir::PingAnswer{"HeadOffice", "HeadOffice", 0x11bc}},
             Row{"branch at dc1",
                 base64("FwAAADwRAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMxwBgFUVVJTEwAA0RDMQAACkhlYWRPZmZp"
                        "Y2UABkJyYW5jaAAFAAAA/////w=="),
                 ldapdir::PingAnswer{"Branch", "HeadOffice", 0x113c}},
             Row{"branch at its read-only controller",
                 base64("FwAAALwIAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgEcm9kY8AYBVFVSUxMAARST0RDAAAGQnJhbmNo"
                        "AMA7BQAAAP////8="),
                 ldapdir::PingAnswer{"Branch", "Branch", 0x8bc}},
             Row{"an address in no subnet",
                 base64("FwAAAD0RAADi7xRCJPEtQIP/4QTK0sTJBXF1aWxsBHRlc3QAwBgDZGMywBgFUVVJTEwAA0RDMgAACkhlYWRPZmZp"
                        "Y2UAAAUAAAD/////"),
                 ldapdir::PingAnswer{"", "HeadOffice", 0x113d}},
             Row{"cut short", head.substr(0, 40), std::nullopt},
             Row{"a byte too many", head + '\0', std::nullopt},
         }) {
        SCOPED_TRACE(row.name);
        const auto answer = ldapdir::decodePingAnswer(row.answer);
        ASSERT_EQ(answer.has_value(), row.expected.has_value());
        if (!answer)
            continue;
        EXPECT_EQ(answer->clientSite, row.expected->clientSite);
        EXPECT_EQ(answer->serverSite, row.expected->serverSite);
        EXPECT_EQ(answer->flags, row.expected->flags);
        EXPECT_EQ(answer->writable(), (row.expected->flags & 0x800) == 0) << "only the read-only one lacks the flag";
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
