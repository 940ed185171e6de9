// The enterprise's branch office, where the clients' own site has only a read-only controller.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "ad_fixture.h"
#include "firewall.h"

namespace {

// The addresses this process holds LDAP connections to. The namespace's table lists Samba's own
// sockets too: only the rows of this process's socket inodes count.
std::set<std::string> ldapPeers() {
    std::set<std::string> inodes;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string link = std::filesystem::read_symlink(fd.path(), error).string();
        if (link.rfind("socket:[", 0) == 0)
            inodes.insert(link.substr(8, link.size() - 9));
    }
    std::set<std::string> peers;
    std::ifstream table("/proc/self/net/tcp");
    std::string line, slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream(line) >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (inodes.count(inode) && remote.substr(9) == "0185") // port 389
            peers.insert(inet_ntoa(in_addr{static_cast<in_addr_t>(std::stoul(remote.substr(0, 8), nullptr, 16))}));
    }
    return peers;
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

TEST_F(BranchTest, TheBranchsOwnControllerServesTheDomainsReads) {
    LdapWindow w(op);
    ASSERT_TRUE(w.load()); // the list of quill.test and the condition of jdoe
    EXPECT_EQ(w.form.text("DisplayCondition"), "テスト 利用者 有効");
    const auto peers = ldapPeers();
    EXPECT_EQ(peers.count("127.0.0.10"), 1u) << "the branch's read-only controller";
    EXPECT_EQ(peers.count("127.0.0.3"), 0u) << "the head office's first controller, found first, no longer held";
}

TEST_F(BranchTest, AfterAFailoverTheBranchsControllerServesAgainOnceItAnswers) {
    ldapdir::Timeouts limits;
    limits.remember = std::chrono::seconds(2);
    LdapWindow w(op, limits);
    ASSERT_TRUE(w.load());
    {
        Firewall firewall;
        firewall.drop("ip daddr 127.0.0.10 tcp dport 389");
        EXPECT_TRUE(w.window.textEdited("account_Combo", "trail")); // the read-only controller fails
        ASSERT_TRUE(w.window.textEdited("account_Combo", "jdoe"));
        EXPECT_EQ(w.form.text("DisplayCondition"), "テスト 利用者 有効") << "another controller took its place";
    }
    std::this_thread::sleep_for(limits.remember);
    ASSERT_TRUE(w.window.textEdited("account_Combo", "trail"));
    EXPECT_EQ(ldapPeers().count("127.0.0.10"), 1u);
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
