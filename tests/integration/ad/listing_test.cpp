#include <gtest/gtest.h>
#include <ldap.h>

#include <sstream>

#include "ad_fixture.h"
#include "directory/ldap/ad_values.h"
#include "directory/ldap/connection_cache.h"
#include "directory/ldap/kerberos_ticket.h"
#include "directory/ldap/long_search.h"

using directory::Value;

namespace {

constexpr const char* kBase = "DC=quill,DC=test";

// The names an unpaged ldapsearch finds for filter, in the server's order: the reference for order.
std::vector<std::string> ldapsearchNames(const std::string& filter) {
    std::string out;
    const int status = runCommand("ldapsearch -N -Q -Y GSSAPI -H ldap://dc1.quill.test -LLL -o ldif-wrap=no -b " +
                                      std::string(kBase) + " '" + filter + "' sAMAccountName",
                                  &out);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::string> names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("sAMAccountName: ", 0) == 0)
            names.push_back(line.substr(16));
    return names;
}

// A service with its own connection, so a test can set that connection's limits.
struct OwnConnection {
    ldapdir::ConnectionCache cache;
    ldapdir::LdapService service{cache};
    std::shared_ptr<ldapdir::Connection> connection = cache.forTarget(kDomain, ldapdir::KerberosTicket::current());
};

struct ListingCase {
    const char* name;
    std::vector<const char*> filter; // the container's Filter
    std::string ldapFilter;          // the same accounts, for ldapsearch
    int unpagedSizeLimit;            // 0: the server sends everything unpaged
};

class DomainListing : public AdTest, public testing::WithParamInterface<ListingCase> {};

} // namespace

// Every account exactly once, in the server's order, whether the server sent it all unpaged or cut
// the unpaged answer short and the list came from the paged search.
TEST_P(DomainListing, HoldsEveryAccountOnceInTheServersOrder) {
    const ListingCase& row = GetParam();
    OwnConnection own;
    own.connection->setUnpagedSizeLimit(row.unpagedSizeLimit);
    const auto expected = ldapsearchNames(row.ldapFilter);
    ASSERT_GT(expected.size(), static_cast<std::size_t>(row.unpagedSizeLimit));

    auto domain = directory::as<directory::Container>(own.service.bind("WinNT://QUILL"));
    std::vector<Value> filter;
    for (const char* item : row.filter)
        filter.push_back(Value::text(item));
    domain->put("Filter", Value::array(filter));
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> names;
        domain->enumerate([&](directory::Object& item) { names.push_back(item.name()); });
        EXPECT_EQ(names, expected) << "round " << round;
        // Paging is remembered only for a server that cut the answer short.
        EXPECT_EQ(own.connection->pagesLongSearches(), row.unpagedSizeLimit > 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, DomainListing,
                         testing::Values(ListingCase{"UsersUnpaged", {"User"}, ldapdir::kUserFilter, 0},
                                         ListingCase{"UsersCutShort", {"User"}, ldapdir::kUserFilter, 3},
                                         ListingCase{"GroupsCutShort", {"Group"}, ldapdir::kGroupFilter, 2},
                                         ListingCase{"BothCutShort",
                                                     {"User", "Group"},
                                                     std::string("(|") + ldapdir::kUserFilter + ldapdir::kGroupFilter +
                                                         ")",
                                                     5}),
                         [](const testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.name); });

// Pages smaller than the answer are stitched in order; an answer within the limit stays unpaged;
// any other failure is reported and does not switch to paging.
TEST_F(AdTest, LongSearchesPageOnlyWhenTheServerLimitsTheAnswer) {
    const auto expected = ldapsearchNames(ldapdir::kUserFilter);
    const int all = static_cast<int>(expected.size());
    struct Row {
        const char* name;
        int unpagedSizeLimit;
        int pageSize;
        bool paged;
    };
    for (const Row& row : {Row{"no limit", 0, 2, false}, Row{"limit above the count", all + 1, 2, false},
                           Row{"cut short, pages of 2", all - 1, 2, true}, Row{"cut short, pages of 1", 1, 1, true}}) {
        OwnConnection own;
        own.connection->setUnpagedSizeLimit(row.unpagedSizeLimit);
        std::vector<std::string> names;
        ldapdir::searchAll(
            *own.connection, kBase, LDAP_SCOPE_SUBTREE, ldapdir::kUserFilter, {"sAMAccountName"},
            [&](ldapdir::Entry& entry) { names.push_back(entry.first("sAMAccountName").value_or("")); }, row.pageSize);
        EXPECT_EQ(names, expected) << row.name;
        EXPECT_EQ(own.connection->pagesLongSearches(), row.paged) << row.name;
    }

    OwnConnection own;
    own.connection->setUnpagedSizeLimit(1);
    int visited = 0;
    EXPECT_THROW(ldapdir::searchAll(*own.connection, "CN=NoSuchPlace,DC=quill,DC=test", LDAP_SCOPE_SUBTREE,
                                    ldapdir::kUserFilter, {"sAMAccountName"}, [&](ldapdir::Entry&) { ++visited; }),
                 directory::Error);
    EXPECT_EQ(visited, 0);
    EXPECT_FALSE(own.connection->pagesLongSearches());
}

// A user's groups come whole from a server that limits unpaged answers, primary group first.
TEST_F(AdTest, GroupsOfAUserSurviveACutShortAnswer) {
    for (const int limit : {0, 1}) {
        OwnConnection own;
        own.connection->setUnpagedSizeLimit(limit);
        directory::ADSIControl adsi(own.service, op);
        adsi.setTargetDomainServer(kDomain);
        ASSERT_TRUE(adsi.acGroubalGroupGet("jdoe")) << limit;
        EXPECT_EQ(adsi.groupList(), "Domain Users/*s*/All domain users\r\nStaff/*s*/Staff members") << limit;
        EXPECT_EQ(own.connection->pagesLongSearches(), limit > 0);
    }
}
