#include <gtest/gtest.h>

#include "directory/object_path.h"
#include "directory/routing_service.h"

using directory::ObjectPath;
using directory::parsePath;

TEST(ObjectPaths, AreBuiltByPlainConcatenation) {
    EXPECT_EQ(directory::userPath("SRV01", "bob"), "WinNT://SRV01/bob,User");
    EXPECT_EQ(directory::groupPath("SRV01", "Staff"), "WinNT://SRV01/Staff,Group");
    EXPECT_EQ(directory::userPathWithoutClass("SRV01", "bob"), "WinNT://SRV01/bob");
    EXPECT_EQ(directory::containerPath("CORP"), "WinNT://CORP");
    // Nothing is trimmed or checked: an empty or spaced target stays as given.
    EXPECT_EQ(directory::userPath("", "bob"), "WinNT:///bob,User");
    EXPECT_EQ(directory::userPath(" CORP ", " bob"), "WinNT:// CORP / bob,User");
    EXPECT_EQ(directory::userPath("CORP", ""), "WinNT://CORP/,User");
}

struct ParseRow {
    const char* name;
    const char* text;
    std::optional<ObjectPath> expected;
};

class PathParsing : public testing::TestWithParam<ParseRow> {};

TEST_P(PathParsing, ReadsTargetComputerNameAndClass) {
    const auto& row = GetParam();
    EXPECT_EQ(parsePath(row.text), row.expected) << row.text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PathParsing,
    testing::Values(
        ParseRow{"user", "WinNT://CORP/jdoe,User", ObjectPath{"CORP", std::nullopt, "jdoe", "User"}},
        ParseRow{"group", "WinNT://CORP/Staff,Group", ObjectPath{"CORP", std::nullopt, "Staff", "Group"}},
        ParseRow{"no_class", "WinNT://CORP/jdoe", ObjectPath{"CORP", std::nullopt, "jdoe", ""}},
        ParseRow{"container", "WinNT://CORP", ObjectPath{"CORP", std::nullopt, std::nullopt, ""}},
        ParseRow{"container_with_class", "WinNT://CORP,Domain",
                 ObjectPath{"CORP", std::nullopt, std::nullopt, "Domain"}},
        ParseRow{"empty_container", "WinNT://", ObjectPath{"", std::nullopt, std::nullopt, ""}},
        ParseRow{"computer_in_domain", "WinNT://CORP/PC01/jdoe,User", ObjectPath{"CORP", "PC01", "jdoe", "User"}},
        ParseRow{"empty_target", "WinNT:///bob,User", ObjectPath{"", std::nullopt, "bob", "User"}},
        ParseRow{"spaced_target", "WinNT:// CORP/bob,User", ObjectPath{" CORP", std::nullopt, "bob", "User"}},
        ParseRow{"spaced_name", "WinNT://CORP/ jo doe ,User", ObjectPath{"CORP", std::nullopt, " jo doe ", "User"}},
        ParseRow{"workgroup_dot", "WinNT://PC01./bob,User", ObjectPath{"PC01.", std::nullopt, "bob", "User"}},
        ParseRow{"japanese", "WinNT://CORP/山田,User", ObjectPath{"CORP", std::nullopt, "山田", "User"}},
        ParseRow{"comma_in_name_splits_at_last", "WinNT://CORP/a,b,User",
                 ObjectPath{"CORP", std::nullopt, "a,b", "User"}},
        ParseRow{"empty_name", "WinNT://CORP/,User", std::nullopt},
        ParseRow{"empty_name_no_class", "WinNT://CORP/", std::nullopt},
        ParseRow{"empty_class", "WinNT://CORP/bob,", std::nullopt},
        ParseRow{"empty_computer", "WinNT://CORP//bob", std::nullopt},
        ParseRow{"too_deep", "WinNT://a/b/c/d", std::nullopt},
        ParseRow{"other_provider", "LDAP://CORP/bob", std::nullopt},
        ParseRow{"lower_case_provider", "winnt://CORP/bob", std::nullopt}, ParseRow{"empty", "", std::nullopt},
        ParseRow{"garbage", "\x01\xff/,//", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathParsing, SurvivesArbitraryBytes) {
    // Every prefix and every single-byte variation of a valid path either parses or is refused.
    const std::string base = "WinNT://CORP/PC01/jdoe,User";
    for (std::size_t i = 0; i <= base.size(); ++i) {
        (void)parsePath(base.substr(0, i));
        for (int b = 0; b < 256; ++b) {
            std::string mutated = base;
            if (i < mutated.size())
                mutated[i] = static_cast<char>(b);
            (void)parsePath(mutated);
        }
    }
    EXPECT_THROW(directory::parsePathOrThrow("nonsense"), directory::Error);
}

namespace {
class Recorder final : public directory::Service {
public:
    explicit Recorder(std::string name) : m_name(std::move(name)) {}
    std::unique_ptr<directory::Object> bind(std::string_view path) override {
        throw directory::Error(1, m_name + " " + std::string(path));
    }

private:
    std::string m_name;
};

std::string routeOf(directory::Service& service, std::string_view path) {
    try {
        service.bind(path);
    } catch (const directory::Error& e) {
        return e.description();
    }
    return "bound";
}
} // namespace

TEST(RoutingService, SendsThisComputerLocallyAndTheRestToTheDomain) {
    Recorder local("local"), domain("domain");
    directory::RoutingService routing([](std::string_view host) { return host.empty() || host == "PC01."; }, &local,
                                      &domain);
    EXPECT_EQ(routeOf(routing, "WinNT:///bob,User"), "local WinNT:///bob,User");
    EXPECT_EQ(routeOf(routing, "WinNT://PC01./bob,User"), "local WinNT://PC01./bob,User");
    EXPECT_EQ(routeOf(routing, "WinNT://CORP/bob,User"), "domain WinNT://CORP/bob,User");
    // A computer named inside a domain path decides, not the domain.
    EXPECT_EQ(routeOf(routing, "WinNT://CORP/PC01./bob,User"), "local WinNT://CORP/PC01./bob,User");
    EXPECT_EQ(routeOf(routing, "WinNT://PC01."), "local WinNT://PC01.");

    directory::RoutingService noDomain([](std::string_view) { return false; }, &local, nullptr);
    EXPECT_NE(routeOf(noDomain, "WinNT://CORP/bob,User").find("「CORP」を扱うディレクトリ サービスがありません。"),
              std::string::npos);
    EXPECT_THROW(noDomain.bind("not a path"), directory::Error);
}

namespace {
// Refuses every bind with a fixed error number, counting the calls.
class Refuser final : public directory::Service {
public:
    Refuser(std::string name, long number) : m_name(std::move(name)), m_number(number) {}
    std::unique_ptr<directory::Object> bind(std::string_view) override {
        ++calls;
        throw directory::Error(m_number, m_name);
    }
    int calls = 0;

private:
    std::string m_name;
    long m_number;
};
} // namespace

TEST(RoutingService, TriesADomainFirstThenAComputerAndRemembersWhichServed) {
    using namespace directory::codes;
    struct Row {
        const char* name;
        long domainAnswer;
        long computerAnswer;
        const char* first; // what the first bind reports
        int domainCalls;   // after two binds
        int computerCalls;
        int domainCallsAfterMemory, computerCallsAfterMemory; // when the second comes after the failure memory
    };
    for (const Row row : {
             Row{"a domain answers", kNoSuchUser, kNoSuchUser, "domain", 2, 0, 2, 0},
             Row{"no domain, a computer answers", kServerUnavailable, kNoSuchUser, "computer", 1, 2, 1, 2},
             Row{"no domain, a silent computer", kTimeout, kTimeout, "ドメインとしてもコンピューターとしても", 1, 1, 2,
                 2},
             Row{"no ticket", kLogonFailure, kLogonFailure, "domain", 2, 2, 2, 2},
             Row{"an LDAP server but no AD domain controller", kNotFound, kNoSuchUser, "computer", 1, 2, 1, 2},
             Row{"the Kerberos bind refused, a computer answers", kLogonFailure, kNoSuchUser, "computer", 1, 2, 2, 2},
             Row{"the domain timed out, a computer answers", kTimeout, kNoSuchUser, "computer", 1, 2, 2, 2},
         }) {
        for (const auto memory : {std::chrono::milliseconds(30000), std::chrono::milliseconds(0)}) {
            SCOPED_TRACE(std::string(row.name) + (memory.count() ? "" : ", memory passed"));
            Refuser local("local", kNoSuchUser), domain("domain", row.domainAnswer),
                computer("computer", row.computerAnswer);
            directory::RoutingService routing([](std::string_view) { return false; }, &local, &domain, &computer,
                                              memory);
            EXPECT_NE(routeOf(routing, "WinNT://FILES1/bob,User").find(row.first), std::string::npos);
            routeOf(routing, "WinNT://files1./bob,User");
            EXPECT_EQ(domain.calls, memory.count() ? row.domainCalls : row.domainCallsAfterMemory);
            EXPECT_EQ(computer.calls, memory.count() ? row.computerCalls : row.computerCallsAfterMemory);
        }
    }
    Refuser local("local", kNoSuchUser), domain("domain", kNoSuchUser), computer("computer", kNoSuchUser);
    directory::RoutingService routing([](std::string_view) { return false; }, &local, &domain, &computer);
    EXPECT_EQ(routeOf(routing, "WinNT://CORP/FILES1/bob,User"), "computer");
    EXPECT_EQ(domain.calls, 0);
}
