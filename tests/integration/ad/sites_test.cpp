// The enterprise's branch office, where the clients' own site has only a read-only controller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "ad_fixture.h"
#include "firewall.h"

namespace {

// This process's LDAP connections, a line each with "ADDRESS:389" for the controller.
std::string ldapPeers() {
    std::string out;
    runCommand("ss -tnpH state established '( dport = :389 )' | grep pid=" + std::to_string(getpid()) + ",", &out);
    return out;
}

class BranchTest : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        if (!IsSkipped() && !std::getenv("QUILL_AD_PAIR"))
            GTEST_SKIP() << "needs the enterprise of tests/run-ad.sh";
        if (!IsSkipped())
            dc.placeClients("branch");
    }
    void TearDown() override {
        if (!IsSkipped())
            dc.placeClients("head");
    }
    const SambaDc rodc = dc.branch();
};

TEST_F(BranchTest, TheBranchsOwnControllerServesTheDomainsReadsAndAfterAFailoverAgainOnceItAnswers) {
    const ldapdir::Timeouts limits{.remember = std::chrono::seconds(2)};
    LdapWindow w(op, limits);
    ASSERT_TRUE(w.load()); // the list of quill.test and the condition of jdoe
    EXPECT_EQ(w.form.text("DisplayCondition"), "テスト 利用者 有効");
    EXPECT_NE(ldapPeers().find("127.0.0.10:389"), std::string::npos) << "the branch's read-only controller";
    EXPECT_EQ(ldapPeers().find("127.0.0.3:389"), std::string::npos) << "the head office's first, found first";
    {
        Firewall firewall;
        firewall.drop("ip daddr 127.0.0.10 tcp dport 389");
        EXPECT_TRUE(w.window.textEdited("account_Combo", "trail")); // the read-only controller fails
        ASSERT_TRUE(w.window.textEdited("account_Combo", "jdoe"));
        EXPECT_EQ(w.form.text("DisplayCondition"), "テスト 利用者 有効") << "another controller took its place";
    }
    std::this_thread::sleep_for(limits.remember);
    ASSERT_TRUE(w.window.textEdited("account_Combo", "trail"));
    EXPECT_NE(ldapPeers().find("127.0.0.10:389"), std::string::npos);
}

TEST_F(BranchTest, WithThePdcEmulatorOutAWriteGoesToAWritableControllerNotToTheReadOnlyOne) {
    Firewall firewall;
    firewall.drop("ip daddr 127.0.0.4 tcp dport 389");
    auto adsi = control("rodc.quill.test");
    EXPECT_TRUE(adsi.ChangeChineseCharacter("member1", "支店で変更")) << "refused by the read-only controller";
    EXPECT_EQ(dc.first("member1", "description"), "支店で変更");
    EXPECT_EQ(rodc.first("member1", "description"), "所属試験");
    // The value the read-only controller still holds: it would change nothing there, and "succeed".
    EXPECT_TRUE(adsi.ChangeChineseCharacter("member1", "所属試験"));
    EXPECT_EQ(dc.first("member1", "description"), "所属試験");
}

TEST_F(BranchTest, ALockReplicatedToTheBranchIsUndoneAtTheWritableControllersAndShowsNoMore) {
    for (int attempt = 0; attempt < 3; ++attempt)
        dc.kinit("crashy", "wrong-password", "FILE:" + dc.state() + "/cc.scratch");
    dc.replicateToBranch();
    ASSERT_NE(rodc.first("crashy", "lockoutTime").value_or("0"), "0");
    LdapWindow w(op);
    ASSERT_TRUE(w.load("rodc.quill.test"));
    ASSERT_TRUE(w.window.textEdited("account_Combo", "crashy"));
    EXPECT_EQ(w.form.text("DisplayCondition"), "障害試験 有効 ロック");
    ASSERT_TRUE(w.window.dispatch("Command1", app::Event::Click));
    EXPECT_EQ(op.shown.back().text, "解除されました。");
    EXPECT_EQ(dc.first("crashy", "lockoutTime").value_or("0"), "0") << "where the lockout was made";
    ASSERT_NE(rodc.first("crashy", "lockoutTime").value_or("0"), "0") << "the branch has not heard of the unlock";
    ASSERT_TRUE(w.window.textEdited("account_Combo", "stopped"));
    ASSERT_TRUE(w.window.textEdited("account_Combo", "crashy"));
    EXPECT_EQ(w.form.text("DisplayCondition"), "障害試験 有効");
    EXPECT_EQ(dc.kinit("crashy", dc.password("crashy"), "FILE:" + dc.state() + "/cc.scratch"), 0);
}

} // namespace
