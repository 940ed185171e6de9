// Two controllers: the window uses dc1; dc2 holds the PDC role and replicates nothing out, so a
// lockout made there stays there. tests/run-ad.sh starts the pair after the one-controller suite.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ad_fixture.h"
#include "app/lock_opener.h"
#include "directory/ldap/ad_values.h"
#include "directory/ldap/connection_cache.h"
#include "directory/ldap/dc_locator.h"
#include "firewall.h"

namespace {

using namespace std::chrono_literals;

class PairTest : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        if (!IsSkipped() && !std::getenv("QUILL_AD_PAIR"))
            GTEST_SKIP() << "needs the two controllers of tests/run-ad.sh";
    }
    const SambaDc pdc = dc.second();
};

TEST_F(PairTest, AnAccountDisabledAndAtOnceEnabledAgainIsEnabled) {
    const auto disabledAt = [](const SambaDc& at) {
        return (at.number("flow", "userAccountControl") & ldapdir::kAccountDisable) != 0;
    };
    auto adsi = control("dc1.quill.test");
    ASSERT_TRUE(adsi.AccountDisabled("flow", true));
    ASSERT_TRUE(disabledAt(pdc));
    ASSERT_FALSE(disabledAt(dc)) << "the PDC emulator replicates nothing out";
    EXPECT_TRUE(adsi.AccountDisabled("flow", false)) << "the old value is read at the PDC emulator";
    EXPECT_FALSE(disabledAt(pdc));
}

// However many controllers are out, and whichever the window used, one lookup waits one limit.
TEST_F(PairTest, WithEveryControllerButOneOutALookupWaitsOneReadLimitAtMost) {
    const auto controllers = ldapdir::DcLocator::domainControllers("quill.test");
    ASSERT_GE(controllers.size(), 2u);
    const auto seconds = [&](ldapdir::ConnectionCache& cache, const std::string& expected) {
        ldapdir::LdapService own(cache);
        directory::ADSIControl adsi(own, op);
        adsi.setTargetDomainServer("quill.test");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(adsi.Descriptioner("jdoe"), expected);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    ldapdir::ConnectionCache inUse, afresh;
    ASSERT_LT(seconds(inUse, "テスト 利用者 有効"), 2.0);
    const std::string used = inUse.forTarget("quill.test", ldapdir::KerberosTicket::current())->host();
    std::string kept; // the last listed but the one in use: behind every other stopped one
    for (const auto& host : controllers)
        kept = host != used ? host : kept;
    Firewall firewall;
    for (const auto& host : controllers)
        if (host != kept)
            firewall.drop("ip daddr " + host + " tcp dport 389");
    EXPECT_LT(seconds(inUse, ""), 6.0) << "the controller in use stopped";
    EXPECT_LT(seconds(inUse, "テスト 利用者 有効"), 6.0) << kept << " took its place";
    EXPECT_LT(seconds(afresh, "テスト 利用者 有効"), 6.0) << "found afresh behind stopped ones";
}

// The PDC role moves (here as the controller in use sees it): writes follow it once the role's
// check is due, or after the PDC emulator has stopped answering.
TEST_F(PairTest, APdcEmulatorRoleThatMovedIsFollowed) {
    const auto moveRole = [&](const std::string& to) {
        const std::string change = "dn: DC=quill,DC=test\nchangetype: modify\nreplace: fSMORoleOwner\n"
                                   "fSMORoleOwner: CN=NTDS Settings,CN=" +
                                   to + ",CN=Servers,CN=HeadOffice,CN=Sites,CN=Configuration,DC=quill,DC=test\n";
        ASSERT_EQ(runCommand("ldbmodify -H '" + dc.state() + "/dc/private/sam.ldb'", nullptr, &change), 0);
    };
    for (const std::string how : {"due", "stopped"}) {
        SCOPED_TRACE(how);
        ldapdir::Timeouts limits{.read = 2s, .remember = 3s};
        if (how == "due")
            limits.roleCheck = {};
        ldapdir::ConnectionCache cache(limits);
        ldapdir::LdapService own(cache);
        directory::ADSIControl adsi(own, op);
        adsi.setTargetDomainServer("dc1.quill.test");
        ASSERT_TRUE(adsi.ChangeChineseCharacter("flow", "DC2 で " + how));
        ASSERT_EQ(pdc.first("flow", "description"), "DC2 で " + how);
        moveRole("DC1");
        if (how == "stopped") {
            Firewall firewall;
            firewall.drop("ip daddr dc2.quill.test tcp dport 389");
            adsi.Descriptioner("flow"); // the PDC emulator's answer does not come
            adsi.Descriptioner("flow");
            firewall.clear();
            std::this_thread::sleep_for(limits.remember); // its failure forgotten
        }
        const bool written = adsi.ChangeChineseCharacter("flow", "DC1 で " + how);
        moveRole("DC2");
        EXPECT_TRUE(written);
        EXPECT_EQ(dc.first("flow", "description"), "DC1 で " + how) << "written where the role is now";
    }
}

TEST_F(AdTest, TwoControllersALockoutAtThePdcEmulatorShowsAndIsUndoneAlsoWhenTheControllerInUseStops) {
    if (!std::getenv("QUILL_AD_PAIR"))
        GTEST_SKIP() << "needs the two controllers of tests/run-ad.sh";
    const SambaDc pdc = dc.second();
    const auto kinitAtPdc = [&](const std::string& password) {
        setenv("KRB5_CONFIG", (dc.state() + "/krb5.dc2.conf").c_str(), 1);
        const int status = dc.kinit("locky", password, "FILE:" + dc.state() + "/cc.scratch");
        setenv("KRB5_CONFIG", (dc.state() + "/krb5.conf").c_str(), 1);
        return status;
    };
    LdapWindow w(op);
    auto [cache, form, window] = std::tie(w.cache, w.form, w.window);
    ASSERT_TRUE(w.load("dc1.quill.test"));
    const auto choose = [&](const std::string& account) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(window.textEdited("account_Combo", account));
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    // Locked at the controller in use: the unlock, written at the PDC emulator, clears it there too;
    // other writes land at the PDC emulator alone.
    for (int attempt = 0; attempt < 3; ++attempt)
        dc.kinit("locky", "wrong-password", "FILE:" + dc.state() + "/cc.scratch");
    choose("locky");
    EXPECT_EQ(form.text("DisplayCondition"), "ロック試験 有効 ロック");
    ASSERT_TRUE(window.dispatch("Command1", app::Event::Click));
    EXPECT_EQ(op.shown.back().text, "解除されました。");
    EXPECT_EQ(dc.first("locky", "lockoutTime").value_or("0"), "0");
    directory::ADSIControl adsi = control("dc1.quill.test");
    EXPECT_TRUE(adsi.ChangeChineseCharacter("locky", "PDC で変更"));
    EXPECT_EQ(pdc.first("locky", "description"), "PDC で変更");
    EXPECT_NE(dc.first("locky", "description"), "PDC で変更");
    EXPECT_TRUE(adsi.ChangeChineseCharacter("locky", "ロック試験"));
    for (const bool inUseStopped : {false, true}) {
        SCOPED_TRACE(inUseStopped ? "controller in use stopped" : "both up");
        for (int attempt = 0; attempt < 3; ++attempt)
            kinitAtPdc("wrong-password");
        ASSERT_NE(pdc.number("locky", "lockoutTime"), 0);
        ASSERT_EQ(dc.first("locky", "lockoutTime").value_or("0"), "0") << "the lockout stayed at the PDC emulator";
        choose("stopped");
        if (inUseStopped) {
            dc.pause();
            EXPECT_LT(choose("trail"), 6.5) << "one wait of the 5 s limit at most";
        }
        EXPECT_LT(choose("locky"), 2.0) << "no wait once another controller answers";
        EXPECT_EQ(form.text("DisplayCondition"), "ロック試験 有効 ロック");
        ASSERT_TRUE(window.dispatch("Command1", app::Event::Click));
        if (inUseStopped)
            dc.resume();
        EXPECT_EQ(op.shown.back().text, "解除されました。");
        EXPECT_EQ(pdc.number("locky", "lockoutTime"), 0);
        EXPECT_EQ(kinitAtPdc(dc.password("locky")), 0) << "the user logs on at the PDC emulator";
    }
}

} // namespace
