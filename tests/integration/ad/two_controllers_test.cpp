// Two controllers: dc2 holds the PDC role and replicates nothing out, so a lockout made there
// stays there. tests/run-ad.sh starts this pair after the one-controller suite.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "ad_fixture.h"
#include "app/lock_opener.h"
#include "directory/ldap/connection_cache.h"

namespace {

using Seconds = std::chrono::duration<double>;

// lockoutTime as one controller's own database holds it (dc: the first, dc2: the second).
std::int64_t lockoutTimeAt(const SambaDc& dc, const std::string& controller, const std::string& account) {
    std::string out;
    runCommand("ldbsearch -H '" + dc.state() + "/" + controller + "/private/sam.ldb' '(sAMAccountName=" + account +
                   ")' lockoutTime",
               &out);
    const auto at = out.find("lockoutTime: ");
    return at == std::string::npos ? 0 : std::stoll(out.substr(at + 13));
}

// kinit against the second controller's KDC alone.
int kinitAtSecond(const SambaDc& dc, const std::string& account, const std::string& password) {
    const std::string input = password + "\n";
    return runCommand("KRB5_CONFIG='" + dc.state() + "/krb5.dc2.conf' KRB5CCNAME='FILE:" + dc.state() +
                          "/cc.scratch' kinit " + account + "@QUILL.TEST",
                      nullptr, &input);
}

class TwoControllers : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        if (IsSkipped())
            return;
        const char* pair = std::getenv("QUILL_AD_PAIR");
        if (!pair || std::string(pair) != "1")
            GTEST_SKIP() << "needs the two controllers of tests/run-ad.sh";
        computer.systems = {{"quill.test", "VM"}};
        window = std::make_unique<app::LockOpener>(form, env, commandLine);
        ASSERT_TRUE(window->dispatch("LockOpener", app::Event::Load));
        // The first controller is the one in use; the second is the PDC emulator.
        ASSERT_TRUE(window->textEdited("trgSrv", "dc1.quill.test"));
        for (int attempt = 0; attempt < 3; ++attempt)
            kinitAtSecond(dc, "locky", "wrong-password");
        ASSERT_NE(lockoutTimeAt(dc, "dc2", "locky"), 0);
        ASSERT_EQ(lockoutTimeAt(dc, "dc", "locky"), 0) << "the lockout stayed at the second controller";
    }

    Seconds choose(const std::string& account) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(window->textEdited("account_Combo", account));
        return std::chrono::steady_clock::now() - started;
    }
    std::string unlock() {
        EXPECT_TRUE(window->dispatch("Command1", app::Event::Click));
        return op.shown.empty() ? "" : op.shown.back().text;
    }

    ldapdir::ConnectionCache cache;
    ldapdir::LdapService own{cache};
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Form form;
    app::Environment env{own, computer, op, clock};
    std::string commandLine = "jdoe";
    std::unique_ptr<app::LockOpener> window;
};

TEST_F(TwoControllers, ALockoutOnlyThePdcEmulatorKnowsShowsAndIsUndoneThere) {
    choose("locky");
    EXPECT_EQ(form.text("DisplayCondition"), "ロック試験 有効 ロック");
    EXPECT_EQ(unlock(), "解除されました。");
    EXPECT_EQ(lockoutTimeAt(dc, "dc2", "locky"), 0);
    EXPECT_EQ(kinitAtSecond(dc, "locky", dc.password("locky")), 0) << "the user logs on at the PDC emulator";
}

TEST_F(TwoControllers, WhenTheControllerInUseStopsLookupsAndUnlockGoOnThroughTheOther) {
    choose("stopped");
    ASSERT_EQ(form.text("DisplayCondition"), "停止中 無効");
    dc.pause();
    const Seconds first = choose("trail");
    const Seconds next = choose("locky");
    const std::string condition = form.text("DisplayCondition");
    const std::string answer = unlock();
    dc.resume();
    EXPECT_LT(first.count(), 6.5) << "one wait of the 5 s limit at most";
    EXPECT_LT(next.count(), 2.0) << "the next lookup goes to the other controller at once";
    EXPECT_EQ(condition, "ロック試験 有効 ロック");
    EXPECT_EQ(answer, "解除されました。");
    EXPECT_EQ(lockoutTimeAt(dc, "dc2", "locky"), 0);
}

} // namespace
