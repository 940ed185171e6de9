// The SAMR backend over a scripted computer: which calls it makes, with which rights and levels,
// and what it makes of faults, silence and lost answers that no Samba server here shows.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <thread>

#include "directory/samr/samr_connection.h"
#include "directory/samr/samr_group.h"
#include "directory/samr/samr_pipe_cache.h"
#include "directory/samr/samr_user.h"

namespace {

using namespace std::chrono_literals;
using directory::Value;
using samrdir::SamrUser;

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

// In the order of samrdir::SamrCall.
const char* const kCallNames[] = {
    "Connect2",        "EnumDomains",       "LookupDomain",       "OpenDomain",   "LookupNames",
    "LookupRids",      "OpenUser",          "QueryUserInfo",      "SetUserInfo2", "Close",
    "EnumDomainUsers", "EnumDomainAliases", "GetAliasMembership", "OpenAlias",    "QueryAliasInfo",
    "AddAliasMember",  "DeleteAliasMember", "GetMembersInAlias"};

// What a scripted call does: answer, send a fault, refuse with a status, or lose the connection
// before or after the computer acted on it.
enum class Do { Answer, Fault, Refuse, LoseAnswer, LoseRequest, Drop };
struct Action {
    Do what = Do::Answer;
    NTSTATUS status = NT_STATUS_OK;
};

struct Made {
    std::string call;
    std::uint32_t access;
    int level;
    std::chrono::milliseconds limit;
};

// A member server's account database: the user kiosk (RID 1001) and the local group Operators.
struct Computer {
    std::uint32_t flags = 0x410;
    std::string description = "受付端末";
    std::uint64_t expiry = 0;
    bool expired = false;
    std::uint64_t lastSet = 1000;
    bool kioskInOperators = false;
    // By call name, or "SetUserInfo2/31" for one level; each action serves one call, in order.
    std::map<std::string, std::deque<Action>> script;
    std::vector<Made> made;
    std::vector<std::chrono::milliseconds> connects;
    bool reachable = true;
    std::chrono::milliseconds connectTakes{0};

    samrdir::SamrConnector connector();
};

class Connection final : public samrdir::SamrConnection {
public:
    explicit Connection(Computer& computer) : m_computer(computer) {}

    NTSTATUS call(samrdir::SamrCall call, TALLOC_CTX* mem, std::chrono::milliseconds limit) override {
        Made made{kCallNames[call.index()], 0, 0, limit};
        std::visit(Overloaded{[&](samr_OpenUser* r) { made.access = r->in.access_mask; },
                              [&](samr_SetUserInfo2* r) { made.level = r->in.level; }, [](auto*) {}},
                   call);
        m_computer.made.push_back(made);
        if (m_dead)
            return NT_STATUS_CONNECTION_DISCONNECTED;
        Action action;
        for (const std::string& key : {made.call + "/" + std::to_string(made.level), made.call}) {
            if (auto found = m_computer.script.find(key); found != m_computer.script.end() && !found->second.empty()) {
                action = found->second.front();
                found->second.pop_front();
                break;
            }
        }
        m_dead = action.what == Do::LoseAnswer || action.what == Do::LoseRequest || action.what == Do::Drop;
        switch (action.what) {
        case Do::Answer:
        case Do::LoseAnswer:
            answer(call, mem);
            return action.what == Do::Answer ? NT_STATUS_OK : NT_STATUS_IO_TIMEOUT;
        case Do::Refuse:
            std::visit([&](auto* r) { r->out.result = action.status; }, call);
            return NT_STATUS_OK;
        case Do::Fault:
            return action.status;
        case Do::LoseRequest:
            return NT_STATUS_IO_TIMEOUT;
        case Do::Drop:
            return NT_STATUS_CONNECTION_DISCONNECTED;
        }
        return NT_STATUS_INTERNAL_ERROR;
    }

    std::span<const std::uint8_t> sessionKey() const noexcept override { return m_key; }

private:
    policy_handle handle() {
        policy_handle h{};
        h.uuid.time_low = ++m_handles;
        return h;
    }

    dom_sid* sid(TALLOC_CTX* mem, std::initializer_list<std::uint32_t> subs) {
        auto* s = talloc_zero(mem, dom_sid);
        s->sid_rev_num = 1;
        s->id_auth[5] = 5;
        for (const std::uint32_t sub : subs)
            s->sub_auths[s->num_auths++] = sub;
        return s;
    }

    void answer(samrdir::SamrCall call, TALLOC_CTX* mem) {
        Computer& c = m_computer;
        std::visit(Overloaded{[&](samr_Connect2* r) { *r->out.connect_handle = handle(); },
                              [&](samr_EnumDomains* r) {
                                  auto* sam = talloc_zero(mem, samr_SamArray);
                                  sam->count = 2;
                                  sam->entries = talloc_zero_array(mem, samr_SamEntry, 2);
                                  sam->entries[0].name.string = "FILES1";
                                  sam->entries[1].name.string = "Builtin";
                                  *r->out.sam = sam;
                                  *r->out.num_entries = 2;
                              },
                              [&](samr_LookupDomain* r) {
                                  const bool builtin = std::string(r->in.domain_name->string) == "Builtin";
                                  *r->out.sid = builtin ? sid(mem, {32}) : sid(mem, {21, 1, 2, 3});
                              },
                              [&](samr_OpenDomain* r) { *r->out.domain_handle = handle(); },
                              [&](samr_LookupNames* r) {
                                  const std::string name = r->in.names[0].string;
                                  if (name != "kiosk" && name != "Operators") {
                                      r->out.result = NT_STATUS_NONE_MAPPED;
                                      return;
                                  }
                                  r->out.rids->count = r->out.types->count = 1;
                                  r->out.rids->ids = talloc_array(mem, std::uint32_t, 1);
                                  r->out.types->ids = talloc_array(mem, std::uint32_t, 1);
                                  r->out.rids->ids[0] = name == "kiosk" ? 1001 : 1002;
                                  r->out.types->ids[0] = name == "kiosk" ? 1 : 4;
                              },
                              [&](samr_OpenUser* r) { *r->out.user_handle = handle(); },
                              [&](samr_OpenAlias* r) { *r->out.alias_handle = handle(); },
                              [&](samr_QueryUserInfo* r) {
                                  auto* info = talloc_zero(mem, samr_UserInfo);
                                  samr_UserInfo21& i = info->info21;
                                  i.account_name.string = "kiosk";
                                  i.description.string = talloc_strdup(mem, c.description.c_str());
                                  i.acct_flags = c.flags;
                                  i.acct_expiry = c.expiry;
                                  i.password_expired = c.expired;
                                  i.last_password_change = c.lastSet;
                                  *r->out.info = info;
                              },
                              [&](samr_SetUserInfo2* r) {
                                  const samr_UserInfo& i = *r->in.info;
                                  if (r->in.level == UserAllInformation) {
                                      const std::uint32_t fields = i.info21.fields_present;
                                      if (fields & SAMR_FIELD_ACCT_FLAGS)
                                          c.flags = i.info21.acct_flags;
                                      if (fields & SAMR_FIELD_ACCT_EXPIRY)
                                          c.expiry = i.info21.acct_expiry;
                                      if (fields & SAMR_FIELD_DESCRIPTION)
                                          c.description = i.info21.description.string;
                                      if (fields & SAMR_FIELD_EXPIRED_FLAG)
                                          c.expired = i.info21.password_expired;
                                      return;
                                  }
                                  c.expired = r->in.level == 31   ? i.info31.password_expired
                                              : r->in.level == 26 ? i.info26.password_expired
                                                                  : i.info24.password_expired;
                                  c.lastSet = c.expired ? 0 : c.lastSet + 1;
                              },
                              [&](samr_GetMembersInAlias* r) {
                                  r->out.sids->num_sids = c.kioskInOperators ? 1 : 0;
                                  r->out.sids->sids = talloc_zero_array(mem, lsa_SidPtr, 1);
                                  r->out.sids->sids[0].sid = sid(mem, {21, 1, 2, 3, 1001});
                              },
                              [&](samr_AddAliasMember*) { c.kioskInOperators = true; },
                              [&](samr_DeleteAliasMember*) { c.kioskInOperators = false; }, [](samr_Close*) {},
                              [](auto* r) { r->out.result = NT_STATUS_NOT_IMPLEMENTED; }},
                   call);
    }

    Computer& m_computer;
    bool m_dead = false;
    std::uint32_t m_handles = 0;
    std::uint8_t m_key[16] = {7, 1, 7, 2, 7, 3, 7, 4, 7, 5, 7, 6, 7, 7, 7, 8};
};

samrdir::SamrConnector Computer::connector() {
    return
        [this](const std::string& host, std::chrono::milliseconds limit) -> std::unique_ptr<samrdir::SamrConnection> {
            connects.push_back(limit);
            std::this_thread::sleep_for(connectTakes);
            if (!reachable)
                throw directory::Error(directory::codes::kTimeout, "コンピューター " + host + " が応答しません。");
            return std::make_unique<Connection>(*this);
        };
}

struct Opened {
    std::shared_ptr<samrdir::SamrPipe> pipe;
    std::unique_ptr<SamrUser> user;
};

Opened open(Computer& computer) {
    auto pipe = std::make_shared<samrdir::SamrPipe>("files1", 5s, samrdir::Timeouts{}, computer.connector());
    auto user = std::make_unique<SamrUser>(pipe, "files1", 1001, pipe->queryUser(1001), "kiosk");
    computer.made.clear();
    return {pipe, std::move(user)};
}

std::vector<int> levelsTried(const Computer& computer) {
    std::vector<int> levels;
    for (const Made& made : computer.made)
        if (made.call == "SetUserInfo2")
            levels.push_back(made.level);
    return levels;
}

TEST(SamrPasswordLevels, AFaultForAnUnknownLevelMeansTheNextLevelOnTheSamePipe) {
    const auto fault = [](NTSTATUS status) { return std::deque<Action>{{Do::Fault, status}}; };
    struct Row {
        const char* name;
        std::map<std::string, std::deque<Action>> script;
        std::vector<int> levels;
        bool set;
    };
    const Row rows[] = {
        {"MsSamr_2_2_6_28_NoLevel31_EnumValueOutOfRange",
         {{"SetUserInfo2/31", fault(NT_STATUS_RPC_ENUM_VALUE_OUT_OF_RANGE)}},
         {31, 26},
         true},
        {"MsSamr_2_2_6_28_NoLevel31_BadStubData",
         {{"SetUserInfo2/31", fault(NT_STATUS_RPC_BAD_STUB_DATA)}},
         {31, 26},
         true},
        {"MsSamr_2_2_6_28_NoLevel31_InvalidTag",
         {{"SetUserInfo2/31", fault(NT_STATUS_RPC_INVALID_TAG)}},
         {31, 26},
         true},
        {"InvalidTagAsSambaMapsItsFault",
         {{"SetUserInfo2/31", fault(NT_STATUS_RPC_PROCNUM_OUT_OF_RANGE)}},
         {31, 26},
         true},
        {"NoLevel31Nor26",
         {{"SetUserInfo2/31", fault(NT_STATUS_RPC_BAD_STUB_DATA)},
          {"SetUserInfo2/26", fault(NT_STATUS_RPC_INVALID_TAG)}},
         {31, 26, 24},
         true},
        {"ConnectionLostIsNoFault", {{"SetUserInfo2/31", {{Do::Drop}}}}, {31}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Computer computer;
        auto [pipe, user] = open(computer);
        computer.script = row.script;
        bool set = true;
        try {
            pipe->setPassword(1001, directory::Secret("N3w-pass-4d"), true);
        } catch (const directory::Error& error) {
            set = false;
            EXPECT_EQ(error.description().find("応答しません"), std::string::npos) << error.description();
        }
        EXPECT_EQ(set, row.set);
        EXPECT_EQ(levelsTried(computer), row.levels);
        EXPECT_EQ(computer.expired, row.set);
        EXPECT_EQ(computer.connects.size(), 1U);
        EXPECT_EQ(pipe->broken(), !row.set);
    }
}

TEST(SamrAccess, EachChangeOpensTheUserForTheRightsItNeeds) {
    constexpr std::uint32_t kWriteAccount = 0x20; // USER_WRITE_ACCOUNT
    constexpr std::uint32_t kForceChange = 0x80;  // USER_FORCE_PASSWORD_CHANGE
    constexpr std::uint32_t kReadForState = 0x1B; // the read handle the state comes from
    struct Row {
        const char* name;
        std::function<void(SamrUser&)> change;
        std::set<std::uint32_t> writeAccess;
    };
    const Row rows[] = {
        {"MsSamr_3_1_5_6_4_2_UnlockNeedsWriteAccount",
         [](SamrUser& u) { u.setIsAccountLocked(false); },
         {kWriteAccount}},
        {"MsSamr_3_1_5_6_4_2_DisableNeedsWriteAccount",
         [](SamrUser& u) { u.setAccountDisabled(true); },
         {kWriteAccount}},
        {"MsSamr_3_1_5_6_4_2_ExpiryNeedsWriteAccount",
         [](SamrUser& u) { u.put("AccountExpirationDate", Value::int32(1)); },
         {kWriteAccount}},
        {"MsSamr_3_1_5_6_4_2_AdminCommentNeedsWriteAccount",
         [](SamrUser& u) { u.setDescription("窓口"); },
         {kWriteAccount}},
        {"MsSamr_3_1_5_6_4_2_PasswordExpiredNeedsForcePasswordChange",
         [](SamrUser& u) { u.put("PasswordExpired", Value::int16(1)); },
         {kForceChange}},
        {"MsSamr_3_1_5_6_4_2_NtPasswordNeedsForcePasswordChange",
         [](SamrUser& u) {
             u.setPassword(directory::Secret("N3w-pass-4d"));
             u.put("PasswordExpired", Value::int16(1));
         },
         {kForceChange}},
        {"MsSamr_3_1_5_6_4_2_UnlockAndMustChangeNeedBoth",
         [](SamrUser& u) {
             u.setIsAccountLocked(false);
             u.put("PasswordExpired", Value::int16(1));
         },
         {kWriteAccount | kForceChange}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Computer computer;
        auto [pipe, user] = open(computer);
        row.change(*user);
        user->setInfo();
        std::set<std::uint32_t> asked;
        for (const Made& made : computer.made)
            if (made.call == "OpenUser" && made.access != kReadForState)
                asked.insert(made.access);
        EXPECT_EQ(asked, row.writeAccess);
    }
}

TEST(SamrLostAnswers, AChangeWhoseAnswerIsLostIsReadBackOnANewConnection) {
    const auto unlock = [](SamrUser& u) { u.setIsAccountLocked(false); };
    const auto reset = [](SamrUser& u) {
        u.setPassword(directory::Secret("N3w-pass-4d"));
        u.put("PasswordExpired", Value::int16(1));
    };
    struct Row {
        const char* name;
        std::map<std::string, std::deque<Action>> script;
        std::function<void(SamrUser&)> change;
        bool reachableAgain;
        bool confirmed;
    };
    const Row rows[] = {
        {"AnswerLostAfterTheChangeLanded", {{"SetUserInfo2/21", {{Do::LoseAnswer}}}}, unlock, true, true},
        {"RequestLostBeforeItLanded", {{"SetUserInfo2/21", {{Do::LoseRequest}}}}, unlock, true, false},
        {"HandleCloseLostAfterTheChange", {{"Close", {{Do::LoseAnswer}}}}, unlock, true, true},
        {"ReadBackLostAfterTheChange", {{"QueryUserInfo", {{Do::Answer}, {Do::LoseAnswer}}}}, unlock, true, true},
        {"PasswordAnswerLostAfterItLanded", {{"SetUserInfo2/31", {{Do::LoseAnswer}}}}, reset, true, true},
        {"PasswordConnectionDroppedBeforeItLanded", {{"SetUserInfo2/31", {{Do::Drop}}}}, reset, true, false},
        {"ComputerSilentAfterTheLostAnswer", {{"SetUserInfo2/21", {{Do::LoseAnswer}}}}, unlock, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Computer computer;
        auto [pipe, user] = open(computer);
        computer.script = row.script;
        computer.reachable = row.reachableAgain;
        row.change(*user);
        try {
            user->setInfo();
            EXPECT_TRUE(row.confirmed);
        } catch (const directory::Error& error) {
            EXPECT_FALSE(row.confirmed) << error.description();
            EXPECT_NE(error.description().find("確認できません"), std::string::npos) << error.description();
        }
        EXPECT_EQ(computer.connects.size(), 2U);
    }
}

TEST(SamrLostAnswers, AGroupMemberWhoseAnswerIsLostIsReadBack) {
    Computer computer;
    auto [pipe, user] = open(computer);
    samrdir::SamrGroup group(pipe, "files1", {1002, samrdir::AccountType::Alias, false, "Operators"});
    computer.script = {{"AddAliasMember", {{Do::LoseAnswer}}}};
    EXPECT_NO_THROW(group.add("WinNT://files1/kiosk"));
    EXPECT_TRUE(computer.kioskInOperators);
}

TEST(SamrOpening, AComputerThatFailedGetsTheShortLimitForTheWholeOpening) {
    Computer computer;
    samrdir::SamrPipeCache cache({}, computer.connector());
    cache.forHost("files1", "admin@QUILL.TEST");
    for (const Made& made : computer.made)
        EXPECT_EQ(made.limit, 5s) << made.call;

    computer.made.clear();
    computer.reachable = false;
    samrdir::SamrPipeCache failing({}, computer.connector());
    EXPECT_THROW(failing.forHost("files1", "admin@QUILL.TEST"), directory::Error);
    computer.reachable = true;
    computer.connectTakes = 200ms;
    failing.forHost("files1", "admin@QUILL.TEST");
    EXPECT_EQ(computer.connects, (std::vector<std::chrono::milliseconds>{5s, 5s, 500ms}));
    ASSERT_FALSE(computer.made.empty());
    for (const Made& made : computer.made)
        EXPECT_LE(made.limit, 300ms) << made.call;
}

TEST(SamrTargets, TextThatBindingStringsReadIsAComputerThatCannotBeFound) {
    for (const char* host : {"files1[smb2,sign]", "files1]", "a,b", "fe80::1", "a=b", "x@y", "a b", "a\tb", "a\\b"}) {
        SCOPED_TRACE(host);
        Computer computer;
        samrdir::SamrPipeCache cache({}, computer.connector());
        try {
            cache.forHost(host, "admin@QUILL.TEST");
            ADD_FAILURE();
        } catch (const directory::Error& error) {
            EXPECT_EQ(error.number(), directory::codes::kServerUnavailable);
            EXPECT_NE(error.description().find("見つかりません"), std::string::npos) << error.description();
        }
        EXPECT_TRUE(computer.connects.empty());
    }
    for (const char* host : {"files1.quill.test", "FILES1", "192.0.2.7", "受付-1"}) {
        SCOPED_TRACE(host);
        Computer computer;
        samrdir::SamrPipeCache cache({}, computer.connector());
        EXPECT_NO_THROW(cache.forHost(host, "admin@QUILL.TEST"));
    }
}

} // namespace
