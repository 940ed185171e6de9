// The SAMR backend over a scripted computer: the calls it makes, with which rights and levels, and
// what it makes of faults, silence and lost answers, none of which a Samba server here shows.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <thread>

#include "directory/samr/samr_connection.h"
#include "directory/samr/samr_pipe_cache.h"
#include "directory/samr/samr_user.h"

namespace {

using namespace std::chrono_literals;
using directory::Value;
using samrdir::SamrUser;
using Ms = std::chrono::milliseconds;

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

// Instead of an answer: a fault, or the connection lost before or after the computer acted.
enum class Do { Answer, Fault, LoseAnswer, LoseRequest, Drop };
using Action = std::pair<Do, NTSTATUS>;
// By call name, or "SetUserInfo2/31" for one level; each action serves one call, in order.
using Script = std::map<std::string, std::deque<Action>>;

using Made = std::tuple<std::string, std::uint32_t, int, Ms>; // call, access asked for, level, time limit

// A member server's account database with one user, RID 1001.
struct Computer {
    std::uint32_t flags = 0x410;
    std::uint64_t expiry = 0, lastSet = 1000;
    std::string description;
    bool expired = false, reachable = true;
    Ms connectTakes{0};
    Script script;
    std::vector<Made> made;
    std::vector<Ms> connects;
    samrdir::SamrConnector connector();
};

const char* const kCallNames[] = {"Connect2",   "EnumDomains", "LookupDomain",  "OpenDomain",   "LookupNames",
                                  "LookupRids", "OpenUser",    "QueryUserInfo", "SetUserInfo2", "Close"};

class Connection final : public samrdir::SamrConnection {
public:
    explicit Connection(Computer& computer) : c(computer) {}

    NTSTATUS call(samrdir::SamrCall call, TALLOC_CTX* mem, Ms limit) override {
        const std::string name = call.index() < 10 ? kCallNames[call.index()] : "other";
        std::uint32_t access = 0;
        int level = 0;
        std::visit(Overloaded{[&](samr_OpenUser* r) { access = r->in.access_mask; },
                              [&](samr_SetUserInfo2* r) { level = r->in.level; }, [](auto*) {}},
                   call);
        c.made.emplace_back(name, access, level, limit);
        Action action{Do::Answer, NT_STATUS_OK};
        for (const std::string& key : {name + "/" + std::to_string(level), name})
            if (auto& queue = c.script[key]; !queue.empty()) {
                action = queue.front();
                queue.pop_front();
                break;
            }
        if (dead || action.first == Do::Drop) {
            dead = true;
            return NT_STATUS_CONNECTION_DISCONNECTED;
        }
        if (action.first == Do::Fault)
            return action.second;
        if (action.first != Do::LoseRequest)
            answer(call, mem);
        dead = action.first != Do::Answer;
        return dead ? NT_STATUS_IO_TIMEOUT : NT_STATUS_OK;
    }
    std::span<const std::uint8_t> sessionKey() const noexcept override { return key; }

private:
    void answer(samrdir::SamrCall call, TALLOC_CTX* mem) {
        const auto query = [&](samr_QueryUserInfo* r) {
            *r->out.info = talloc_zero(mem, samr_UserInfo);
            samr_UserInfo21& i = (*r->out.info)->info21;
            i.account_name.string = "kiosk";
            std::tie(i.acct_flags, i.acct_expiry, i.password_expired, i.last_password_change) =
                std::tuple(c.flags, c.expiry, c.expired, c.lastSet);
            i.description.string = talloc_strdup(mem, c.description.c_str());
        };
        const auto set = [&](samr_SetUserInfo2* r) {
            const samr_UserInfo& i = *r->in.info;
            const std::uint32_t fields = r->in.level == UserAllInformation ? i.info21.fields_present : 0;
            if (fields & SAMR_FIELD_ACCT_FLAGS)
                c.flags = i.info21.acct_flags;
            if (fields & SAMR_FIELD_ACCT_EXPIRY)
                c.expiry = i.info21.acct_expiry;
            if (fields & SAMR_FIELD_DESCRIPTION)
                c.description = i.info21.description.string;
            if (fields & SAMR_FIELD_EXPIRED_FLAG)
                c.expired = i.info21.password_expired;
            if (r->in.level == UserAllInformation)
                return;
            c.expired = r->in.level == 31   ? i.info31.password_expired
                        : r->in.level == 26 ? i.info26.password_expired
                                            : i.info24.password_expired;
            c.lastSet = c.expired ? 0 : c.lastSet + 1;
        };
        std::visit(Overloaded{query, set,
                              [&](samr_EnumDomains* r) {
                                  *r->out.sam = talloc_zero(mem, samr_SamArray);
                                  (*r->out.sam)->count = *r->out.num_entries = 2;
                                  (*r->out.sam)->entries = talloc_zero_array(mem, samr_SamEntry, 2);
                                  (*r->out.sam)->entries[0].name.string = "FILES1";
                                  (*r->out.sam)->entries[1].name.string = "Builtin";
                              },
                              [&](samr_LookupDomain* r) { *r->out.sid = talloc_zero(mem, dom_sid); }, [](auto*) {}},
                   call);
    }

    Computer& c;
    bool dead = false;
    std::uint8_t key[16] = {7, 1, 7, 2, 7, 3, 7, 4, 7, 5, 7, 6, 7, 7, 7, 8};
};

samrdir::SamrConnector Computer::connector() {
    return [this](const std::string& host, Ms limit) -> std::unique_ptr<samrdir::SamrConnection> {
        connects.push_back(limit);
        std::this_thread::sleep_for(connectTakes);
        if (!reachable)
            throw directory::Error(directory::codes::kTimeout, "コンピューター " + host + " が応答しません。");
        return std::make_unique<Connection>(*this);
    };
}

// The user, bound on an open pipe, with what was made so far forgotten.
std::pair<std::shared_ptr<samrdir::SamrPipe>, std::unique_ptr<SamrUser>> bound(Computer& computer) {
    auto pipe = std::make_shared<samrdir::SamrPipe>("files1", 5s, samrdir::Timeouts{}, computer.connector());
    auto user = std::make_unique<SamrUser>(pipe, "files1", 1001, pipe->queryUser(1001), "kiosk");
    computer.made.clear();
    return {pipe, std::move(user)};
}

// A fault for an unknown password level (Windows Server before 2022 has no 31, MS-SAMR 2.2.6.28)
// means the next level on the same pipe; a change whose answer is lost is read back on a new
// connection: there means done, absent means not confirmed.
TEST(SamrWrites, AFaultedLevelIsFollowedByTheNextAndALostAnswerIsReadBackOnANewConnection) {
    const auto at = [](const char* call, Do what, NTSTATUS status = {}) { return Script{{call, {{what, status}}}}; };
    const auto faults = [](auto... status) { return Script{{"SetUserInfo2", {Action{Do::Fault, status}...}}}; };
    const struct {
        const char* name;
        Script script;
        std::vector<int> levels; // of the SetUserInfo2 calls
        bool reset, confirmed;   // reset: else an unlock
        std::size_t connects;
        bool reachableAgain = true;
    } rows[] = {
        {"NoLevel31_EnumValueOutOfRange", faults(NT_STATUS_RPC_ENUM_VALUE_OUT_OF_RANGE), {31, 26}, true, true, 1},
        {"NoLevel31_BadStubData", faults(NT_STATUS_RPC_BAD_STUB_DATA), {31, 26}, true, true, 1},
        {"NoLevel31_InvalidTag", faults(NT_STATUS_RPC_INVALID_TAG), {31, 26}, true, true, 1},
        {"InvalidTagAsSambaNamesIt", faults(NT_STATUS_RPC_PROCNUM_OUT_OF_RANGE), {31, 26}, true, true, 1},
        {"OnlyLevel24", faults(NT_STATUS_RPC_BAD_STUB_DATA, NT_STATUS_RPC_INVALID_TAG), {31, 26, 24}, true, true, 1},
        {"AnswerLostAfterTheChangeLanded", at("SetUserInfo2/21", Do::LoseAnswer), {21}, false, true, 2},
        {"RequestLostBeforeItLanded", at("SetUserInfo2/21", Do::LoseRequest), {21}, false, false, 2},
        {"HandleCloseLostAfterTheChange", at("Close", Do::LoseAnswer), {21}, false, true, 2},
        {"PasswordAnswerLostAfterItLanded", at("SetUserInfo2/31", Do::LoseAnswer), {31}, true, true, 2},
        {"PasswordConnectionDroppedBeforeItLandedIsNoFault", at("SetUserInfo2/31", Do::Drop), {31}, true, false, 2},
        {"ComputerSilentAfterTheLostAnswer", at("SetUserInfo2/21", Do::LoseAnswer), {21}, false, false, 2, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Computer computer;
        auto [pipe, user] = bound(computer);
        std::tie(computer.script, computer.reachable) = std::tie(row.script, row.reachableAgain);
        if (row.reset) {
            user->setPassword(directory::Secret("N3w-pass-4d"));
            user->put("PasswordExpired", Value::int16(1));
        } else {
            user->setIsAccountLocked(false);
        }
        try {
            user->setInfo();
            EXPECT_TRUE(row.confirmed);
        } catch (const directory::Error& error) {
            EXPECT_FALSE(row.confirmed) << error.description();
            EXPECT_NE(error.description().find("確認できません"), std::string::npos) << error.description();
        }
        std::vector<int> levels;
        for (const auto& [call, access, level, limit] : computer.made)
            if (call == "SetUserInfo2")
                levels.push_back(level);
        EXPECT_EQ(levels, row.levels);
        EXPECT_EQ(computer.expired, row.reset && row.confirmed);
        EXPECT_EQ(computer.connects.size(), row.connects);
    }
}

// The rights MS-SAMR 3.1.5.6.4.2 requires for each field.
TEST(SamrAccess, EachChangeOpensTheUserForTheRightsItNeeds) {
    constexpr std::uint32_t kWrite = 0x20, kForcePasswordChange = 0x80, kReadState = 0x1B;
    const auto mustChange = [](SamrUser& u) { u.put("PasswordExpired", Value::int16(1)); };
    const struct {
        const char* name;
        std::uint32_t access;
        std::function<void(SamrUser&)> change;
    } rows[] = {
        {"UnlockNeedsWriteAccount", kWrite, [](SamrUser& u) { u.setIsAccountLocked(false); }},
        {"DisableNeedsWriteAccount", kWrite, [](SamrUser& u) { u.setAccountDisabled(true); }},
        {"ExpiryNeedsWriteAccount", kWrite, [](SamrUser& u) { u.put("AccountExpirationDate", Value::int32(1)); }},
        {"AdminCommentNeedsWriteAccount", kWrite, [](SamrUser& u) { u.setDescription("窓口"); }},
        {"PasswordExpiredNeedsForcePasswordChange", kForcePasswordChange, mustChange},
        {"NtPasswordNeedsForcePasswordChange", kForcePasswordChange,
         [&](SamrUser& u) { u.setPassword(directory::Secret("N3w-pass-4d")), mustChange(u); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Computer computer;
        auto [pipe, user] = bound(computer);
        row.change(*user);
        user->setInfo();
        std::set<std::uint32_t> asked;
        for (const auto& [call, access, level, limit] : computer.made)
            if (call == "OpenUser" && access != kReadState)
                asked.insert(access);
        EXPECT_EQ(asked, std::set{row.access});
    }
}

TEST(SamrOpening, AComputerThatFailedGetsTheShortLimitForTheWholeOpening) {
    Computer computer;
    computer.reachable = false;
    samrdir::SamrPipeCache failing({}, computer.connector());
    EXPECT_THROW(failing.forHost("files1", "admin@QUILL.TEST"), directory::Error);
    computer.reachable = true;
    computer.connectTakes = 200ms;
    failing.forHost("files1", "admin@QUILL.TEST");
    EXPECT_EQ(computer.connects, (std::vector<Ms>{5s, 500ms}));
    ASSERT_FALSE(computer.made.empty());
    for (const auto& [call, access, level, limit] : computer.made)
        EXPECT_LE(limit, 300ms) << call;
}

TEST(SamrTargets, TextThatBindingStringsReadIsAComputerThatCannotBeFound) {
    const auto check = [](const char* host, bool named) {
        SCOPED_TRACE(host);
        Computer computer;
        samrdir::SamrPipeCache cache({}, computer.connector());
        try {
            cache.forHost(host, "admin@QUILL.TEST");
            EXPECT_TRUE(named);
        } catch (const directory::Error& error) {
            EXPECT_FALSE(named);
            EXPECT_EQ(error.number(), directory::codes::kServerUnavailable);
            EXPECT_NE(error.description().find("見つかりません"), std::string::npos) << error.description();
        }
        EXPECT_EQ(computer.connects.size(), named ? 1U : 0U);
    };
    for (const char* host : {"files1[smb2,sign]", "files1]", "a,b", "fe80::1", "a=b", "x@y", "a b", "a\tb", "a\\b"})
        check(host, false);
    for (const char* host : {"files1.quill.test", "FILES1", "192.0.2.7", "受付-1"})
        check(host, true);
}

} // namespace
