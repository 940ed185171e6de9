#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <variant>

#include "directory/error.h"
#include "directory/unix/helper/protocol.h"
#include "directory/unix/account_files.h"
#include "directory/unix/helper_admin.h"
#include "directory/unix/local_admin.h"
#include "sandbox.h"
#include "temp_dir.h"

// The local-accounts helper: its request parser, the program itself fed hostile input over its
// pipes as pkexec would start it, and the window side's handling of refusal and of the session.

namespace {

namespace helper = unixacct::helper;
namespace codes = directory::codes;

TEST(HelperProtocol, ParserAcceptsOnlyWellFormedCheckedRequests) {
    struct Row {
        const char* name;
        std::string line;
        bool accepted;
    };
    const Row rows[] = {
        {"hello", "1 hello", true},
        {"shadow", "1 shadow alice", true},
        {"lockout, escaped UTF-8 name", "1 lockout %E5%B1%B1%E7%94%B0", true},
        {"full commit",
         "1 commit alice description=a%20b disabled=0 unlock=1 expire-password=1 expiry=20542 password=x%25y", true},
        {"never expires", "1 commit alice expiry=-1", true},
        {"nothing to commit", "1 commit alice", true},
        {"member add", "1 member-add users alice", true},
        {"member remove", "1 member-remove users alice", true},
        {"empty line", "", false},
        {"no version", "hello", false},
        {"wrong version", "2 hello", false},
        {"version with a sign", "+1 hello", false},
        {"unknown operation", "1 frobnicate alice", false},
        {"hello with an argument", "1 hello there", false},
        {"option as a name", "1 shadow -x", false},
        {"escaped option as a name", "1 shadow %2Dx", false},
        {"colon in a name", "1 shadow al%3Aice", false},
        {"newline in a name", "1 shadow al%0Aice", false},
        {"name too long", "1 shadow " + std::string(33, 'a'), false},
        {"dot-dot name", "1 lockout ..", false},
        {"missing name", "1 shadow", false},
        {"extra word", "1 shadow alice bob", false},
        {"two spaces", "1  shadow alice", false},
        {"tab inside a word", "1 shadow ali\tce", false},
        {"bad escape", "1 commit alice description=%ZZ", false},
        {"cut escape", "1 commit alice description=%4", false},
        {"colon in description", "1 commit alice description=a%3Ab", false},
        {"newline in password", "1 commit alice password=pw%0Aroot:x", false},
        {"NUL in password", "1 commit alice password=pw%00x", false},
        {"empty password", "1 commit alice password=", false},
        {"disabled 2", "1 commit alice disabled=2", false},
        {"unlock 0", "1 commit alice unlock=0", false},
        {"key twice", "1 commit alice disabled=1 disabled=0", false},
        {"unknown key", "1 commit alice shell=/bin/sh", false},
        {"no equals", "1 commit alice disabled", false},
        {"expiry day 0", "1 commit alice expiry=0", false},
        {"expiry past 9999", "1 commit alice expiry=2932897", false},
        {"expiry not a number", "1 commit alice expiry=tomorrow", false},
        {"member without user", "1 member-add users", false},
        {"option as a group", "1 member-add -r alice", false},
        {"overlong line", "1 commit alice description=" + std::string(helper::kMaxLineLength, 'a'), false},
    };
    for (const Row& row : rows) {
        const auto parsed = helper::parseRequest(row.line);
        EXPECT_EQ(std::holds_alternative<helper::Request>(parsed), row.accepted) << row.name;
        if (const auto* refusal = std::get_if<helper::Refusal>(&parsed)) {
            EXPECT_FALSE(refusal->description.empty()) << row.name;
        }
    }
}

TEST(HelperProtocol, EveryValueSurvivesTheRoundTrip) {
    helper::Request request;
    request.operation = helper::Operation::Commit;
    request.change.user = "山田";
    request.change.description = "営業部 第二課, 内線 12 100%";
    request.change.disabled = false;
    request.change.expiryDay = -1;
    request.change.password.emplace(" p\ta:ss%word 🔑 ");
    const std::string line = helper::encodeRequest(request);
    EXPECT_EQ(line.find_first_of("\n\r\t"), std::string::npos);
    const auto parsed = helper::parseRequest(line);
    ASSERT_TRUE(std::holds_alternative<helper::Request>(parsed));
    const unixacct::UserChange& c = std::get<helper::Request>(parsed).change;
    EXPECT_EQ(c.user, "山田");
    EXPECT_EQ(c.description, request.change.description);
    EXPECT_EQ(c.disabled, false);
    EXPECT_EQ(c.expiryDay, -1);
    EXPECT_FALSE(c.unlock || c.expirePassword);
    ASSERT_TRUE(c.password);
    EXPECT_EQ(c.password->view(), " p\ta:ss%word 🔑 ");

    const auto err = helper::parseResponse(helper::errorResponse(codes::kMemberInGroup, "すでに メンバーです。"));
    ASSERT_TRUE(std::holds_alternative<helper::Response>(err));
    EXPECT_EQ(std::get<helper::Response>(err).code, codes::kMemberInGroup);
    EXPECT_EQ(std::get<helper::Response>(err).description, "すでに メンバーです。");
    EXPECT_TRUE(std::holds_alternative<helper::Refusal>(helper::parseResponse("2 ok")));
    EXPECT_TRUE(std::holds_alternative<helper::Refusal>(helper::parseResponse("1 err x y")));
}

// Random lines built from the protocol's own words and hostile bytes: the parser never fails
// other than by a refusal, and what it accepts encodes back to a line it parses the same way.
TEST(HelperProtocol, RandomLinesAreRefusedOrRoundTrip) {
    const std::string pieces[] = {"1",         "2",
                                  " ",         "hello",
                                  "shadow",    "lockout",
                                  "commit",    "member-add",
                                  "alice",     "users",
                                  "-x",        "%",
                                  "%2",        "%41",
                                  "%0A",       "%3A",
                                  "=",         "description=",
                                  "password=", "expiry=",
                                  "-1",        "20542",
                                  "disabled=", "0",
                                  "unlock=",   "expire-password=",
                                  "\n",        std::string(1, '\0'),
                                  "\xff",      "山"};
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1), count(0, 12);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string line;
        for (std::size_t n = count(random); n > 0; --n)
            line += pieces[pick(random)];
        const auto parsed = helper::parseRequest(line);
        if (const auto* request = std::get_if<helper::Request>(&parsed)) {
            ++accepted;
            const std::string again = helper::encodeRequest(*request);
            const auto reparsed = helper::parseRequest(again);
            ASSERT_TRUE(std::holds_alternative<helper::Request>(reparsed)) << line;
            EXPECT_EQ(helper::encodeRequest(std::get<helper::Request>(reparsed)), again) << line;
        }
    }
    EXPECT_GT(accepted, 0);
}

TEST(HelperProtocol, TheInputBufferKeepsNoCopyOfALaterLine) {
    std::string buffer = "1 hello\n1 commit a password=Hidden-Pw\n";
    const std::string_view storage(buffer.data(), buffer.capacity());
    helper::eraseFront(buffer, 8);
    EXPECT_EQ(storage.substr(buffer.size()), std::string(storage.size() - buffer.size(), '\0')) << buffer;
    helper::wipeStorage(buffer);
    EXPECT_EQ(storage.find("Hidden"), std::string_view::npos);
}

// The built helper over two pipes, as pkexec starts the installed one.
class HelperProcess {
public:
    explicit HelperProcess(std::string program = QUILL_TEST_HELPER, bool pkexec = true) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            // pkexec clears the environment and names the caller.
            char uid[] = "PKEXEC_UID=1000";
            char* env[] = {pkexec ? uid : nullptr, nullptr};
            char* argv[] = {program.data(), nullptr};
            ::execve(program.c_str(), argv, env);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_to = in[1];
        m_from = out[0];
    }
    ~HelperProcess() {
        closeInput();
        if (m_from >= 0)
            ::close(m_from);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    void send(const std::string& bytes) {
        const SigIgnore ignore;
        [[maybe_unused]] const ssize_t n = ::write(m_to, bytes.data(), bytes.size());
    }
    std::string readLine() {
        std::string line;
        char c;
        while (::read(m_from, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    std::string ask(const std::string& line) {
        send(line + "\n");
        return readLine();
    }
    void closeInput() {
        if (m_to >= 0)
            ::close(m_to);
        m_to = -1;
    }
    void closeAll() {
        closeInput();
        ::close(m_from);
        m_from = -1;
    }
    // The exit status once it has ended (it must end by itself).
    int wait() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    struct SigIgnore {
        SigIgnore() { m_old = ::signal(SIGPIPE, SIG_IGN); }
        ~SigIgnore() { ::signal(SIGPIPE, m_old); }
        sighandler_t m_old;
    };
    pid_t m_pid = -1;
    int m_to = -1, m_from = -1;
};

std::string accountFiles() {
    return sandbox::slurp("/etc/passwd") + sandbox::slurp("/etc/shadow") + sandbox::slurp("/etc/group") +
           sandbox::slurp("/etc/gshadow");
}

TEST(HelperProgram, RefusesHostileRequestsAndKeepsServing) {
    REQUIRE_SANDBOX();
    const std::string name = sandbox::createUser("hostile");
    const std::string before = accountFiles();
    HelperProcess process;
    ASSERT_EQ(process.ask("1 hello"), "1 ok");
    const std::string hostile[] = {
        "1 shadow -x",
        "1 commit -e disabled=1",
        "1 commit " + name + " description=a%3A0%3A0",
        "1 commit " + name + " password=pw%0A" + name + ":x",
        "1 commit " + name + " expiry=0",
        "1 commit " + name + " disabled=1 disabled=1",
        "1 commit " + name + " home=/tmp",
        "1 member-add root " + name + "%0A",
        "1 shadow nobody-here",
        "1 commit nobody-here disabled=1",
        "1 frobnicate " + name,
        "0 hello",
        "2 commit " + name + " disabled=1",
        std::string(helper::kMaxLineLength + 100, 'x'),
        "1 commit " + name + " description=" + std::string(helper::kMaxLineLength, 'a'),
        "\x01\x02\x03",
    };
    for (const std::string& line : hostile) {
        EXPECT_EQ(process.ask(line).rfind("1 err ", 0), 0u) << line.substr(0, 60);
        EXPECT_EQ(process.ask("1 hello"), "1 ok") << "after " << line.substr(0, 60);
    }
    EXPECT_EQ(accountFiles(), before);
    process.closeInput();
    EXPECT_EQ(process.wait(), 0);
}

TEST(HelperProgram, ATruncatedRequestOrACallerThatDiesChangesNothingHalfway) {
    REQUIRE_SANDBOX();
    const std::string name = sandbox::createUser("truncated");
    const auto before = sandbox::fields("/etc/shadow", name);
    {
        // The stream ends inside a request: nothing is done.
        HelperProcess process;
        process.send("1 commit " + name + " disabled=1");
        process.closeInput();
        EXPECT_EQ(process.wait(), 0);
        EXPECT_EQ(sandbox::fields("/etc/shadow", name), before);
    }
    {
        // The caller dies mid-request, in the middle of the password.
        HelperProcess process;
        process.send("1 commit " + name + " expire-password=1 password=Half-");
        process.closeAll();
        EXPECT_EQ(process.wait(), 0);
        EXPECT_EQ(sandbox::fields("/etc/shadow", name), before);
    }
    {
        // The caller dies right after a whole request: the helper finishes it wholly and ends.
        HelperProcess process;
        process.send("1 commit " + name + " expire-password=1 password=Whole-Pw-5\n");
        process.closeAll();
        EXPECT_EQ(process.wait(), 0);
        const auto after = sandbox::fields("/etc/shadow", name);
        EXPECT_NE(after.at(1), before.at(1));
        EXPECT_EQ(after.at(2), "0");
    }
}

// A copy of the built helper that any user may run, wherever the build tree is.
std::string helperCopy(const testutil::TempDir& dir) {
    const std::string copy = dir.path() + "/quillmarsh-local-accounts";
    std::filesystem::copy_file(QUILL_TEST_HELPER, copy);
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    return copy;
}

TEST(HelperProgram, RefusesACallerThatIsNotRoot) {
    REQUIRE_SANDBOX();
    const testutil::TempDir dir;
    const std::string helperPath = helperCopy(dir);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        HelperProcess process(helperPath);
        const bool answered = !process.ask("1 hello").empty();
        ::_exit(answered ? 98 : process.wait());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 126);
}

TEST(HelperSession, OneHelperServesTheWholeSessionAndEndsWithIt) {
    REQUIRE_SANDBOX();
    const std::string name = sandbox::createUser("session");
    pid_t pid = -1;
    {
        unixacct::HelperAdmin admin({QUILL_TEST_HELPER}, {"PKEXEC_UID=1000"});
        EXPECT_EQ(admin.helperPid(), -1); // nothing starts before a step needs root
        for (int i = 0; i < 5; ++i) {
            EXPECT_FALSE(admin.shadowState(name).passwordLocked);
            EXPECT_FALSE(admin.lockedOut(name));
            if (i == 0)
                pid = admin.helperPid();
            EXPECT_EQ(admin.helperPid(), pid);
        }
        // A refused step is an error for that step only.
        try {
            admin.changeMembership(name, name, true);
            ADD_FAILURE() << "the primary group took its own member twice";
        } catch (const directory::Error& e) {
            EXPECT_EQ(e.number(), codes::kMemberInGroup);
        }
        EXPECT_EQ(admin.helperPid(), pid);
    }
    EXPECT_NE(::kill(pid, 0), 0); // ended and reaped with the session
}

TEST(HelperSession, RefusedAuthorisationFailsEveryStepAndReadsDoNotAskAgain) {
    testutil::TempDir dir;
    const std::string starts = dir.path() + "/starts";
    // What pkexec does when the operator cancels: exit 126 without running the helper.
    unixacct::HelperAdmin admin({"/bin/sh", "-c", "echo started >> " + starts + "; exit 126"});
    auto startCount = [&] {
        const std::string text = sandbox::slurp(starts);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    auto denied = [](const std::function<void()>& step) {
        try {
            step();
        } catch (const directory::Error& e) {
            return e.number() == codes::kAccessDenied && !e.description().empty();
        }
        return false;
    };
    unixacct::UserChange change;
    change.user = "alice";
    change.disabled = true;
    EXPECT_TRUE(denied([&] { admin.shadowState("alice"); }));
    EXPECT_EQ(startCount(), 1);
    for (int keystroke = 0; keystroke < 3; ++keystroke) {
        EXPECT_TRUE(denied([&] { admin.shadowState("alice"); }));
        EXPECT_TRUE(denied([&] { admin.lockedOut("alice"); }));
    }
    EXPECT_EQ(startCount(), 1);
    EXPECT_TRUE(denied([&] { admin.commit(change); })); // a button click asks again
    EXPECT_EQ(startCount(), 2);
    EXPECT_TRUE(denied([&] { admin.changeMembership("users", "alice", true); }));
    EXPECT_EQ(startCount(), 3);
    EXPECT_EQ(admin.helperPid(), -1);
}

// Refused, changing nothing: system accounts for a pkexec caller, commits spanning files, ambiguous lines.
// Administrators too; the sudoers rows write into run-unix.sh's fixture files.
TEST(HelperProgram, RefusesSystemAccountsAdministratorsSpanningCommitsAndAmbiguousLines) {
    REQUIRE_SANDBOX();
    const std::string n = sandbox::createUser("refuse");
    const std::string s = sandbox::createUser("sudoer"), w = sandbox::createUser("wheel"),
                      g = sandbox::createUser("helpdesk"), m = sandbox::createUser("member"),
                      a = sandbox::createUser("gadmin"), ps = "qprimary_" + std::to_string(::getpid()),
                      d = "qsameuid_" + std::to_string(::getpid()), off = "commit " + n + " disabled=1",
                      on = "commit " + n + " disabled=0", denied = "1 err " + std::to_string(codes::kAccessDenied),
                      main = "/etc/sudoers", dropIn = "/etc/sudoers.d/quill-test", rules = "# rules";
    const auto id = [](const std::string& file, const std::string& name) { return sandbox::fields(file, name).at(2); };
    ASSERT_EQ(
        sandbox::run({"/bin/sh", "-ec",
                      "PATH=/usr/sbin:/usr/bin; groupadd -f wheel; usermod -aG sudo " + s + "; usermod -aG wheel " + w +
                          "; gpasswd -a " + m + " " + g + "; gpasswd -A " + a + " sudo; useradd -M -N -g sudo " + ps +
                          "; useradd -M -N -o -u " + id("/etc/passwd", s) + " " + d}),
        0);
    HelperProcess pkexec, root(QUILL_TEST_HELPER, false);
    const struct {
        HelperProcess& by;
        std::string request, expected, file = "/etc/passwd", from = {}, to = {};
    } rows[] = {{pkexec, "commit root description=pwned", "1 err"},
                {pkexec, "member-add root " + n, "1 err"},
                {pkexec, "commit daemon disabled=1", "1 err"},
                {pkexec, "member-add " + n + " daemon", "1 err"},
                {pkexec, "shadow root", "1 ok "},
                {root, "commit root description=root", "1 ok"},
                {root, "commit " + n + " description=x disabled=1", "1 err"},
                {root, "commit " + n + " unlock=1 disabled=0", "1 err"},
                {root, "commit " + n + " unlock=1 description=x", "1 err"},
                {root, "commit " + n + " description=x", "pwck", "/etc/passwd", n + ":x:", n + ":x:bad\n" + n + ":x:"},
                {root, "commit " + n + " disabled=1", "pwck", "/etc/shadow", n + ":",
                 unixacct::joinFields(sandbox::fields("/etc/shadow", n)) + "\n" + n + ":"},
                {root, "member-add " + n + " root", "grpck", "/etc/group", n + ":x:", n + ":x:1\n" + n + ":x:"},
                {pkexec, "commit " + n + " description=plain", "1 ok"},
                {pkexec, "commit " + s + " disabled=1", denied},
                {pkexec, "commit " + ps + " expire-password=1", denied},
                {pkexec, "commit " + w + " description=x", denied},
                {pkexec, "commit " + a + " description=x", denied},
                {pkexec, "commit " + d + " description=x", denied},
                {pkexec, "commit nobody description=x", denied},
                {pkexec, "member-add nogroup " + n, denied},
                {pkexec, "shadow " + s, "1 ok "},
                {root, "commit " + s + " description=root", "1 ok"},
                {pkexec, "commit " + m + " disabled=1", denied, dropIn, rules, "%" + g + "  ALL=(ALL) ALL"},
                {pkexec, "member-add " + g + " " + n, denied, dropIn, rules, "%:" + g + " ALL = ALL"},
                {pkexec, "commit " + m + " disabled=1", denied, dropIn, rules, "%#" + id("/etc/group", g) + " ALL=ALL"},
                {pkexec, off, denied, dropIn, rules, "#" + id("/etc/passwd", n) + " ALL=ALL"},
                {pkexec, off, denied, dropIn, rules, "Defaults:x, " + n + " !lecture"},
                {pkexec, off, denied, dropIn, rules, "User_Alias H = x, \\\n " + n + "\nH ALL=ALL"},
                {pkexec, off, denied, dropIn, rules, "ALL, !root ALL=(ALL) ALL"},
                {pkexec, off, denied, dropIn, rules, "+helpdesk ALL=ALL"},
                {pkexec, off, denied, dropIn, rules, "no sudoers rule"},
                {pkexec, off, denied, main, rules, "@include sudoers.d/missing"},
                {pkexec, off, denied, main, rules, "@include /etc/sudoers.d"},
                {pkexec, off, denied, main, rules, "@include /etc/sudoers"},
                {pkexec, on, "1 ok", main, rules, "#include sudoers.d/quill.disabled"},
                {pkexec, on, "1 ok", "/etc/sudoers.d/quill.disabled", rules, "ALL ALL=ALL"},
                {pkexec, on, "1 ok", dropIn, rules, "# " + n + " ALL=ALL\nx ALL=ALL #" + n},
                {root, "commit " + n + " disabled=1", "1 ok", "/etc/shadow", n + ":", "  " + n + ":"}};
    for (const auto& row : rows) {
        const std::string kept = sandbox::slurp(row.file);
        std::string damaged = kept;
        if (!row.from.empty())
            std::ofstream(row.file) << damaged.replace(damaged.find(row.from), row.from.size(), row.to);
        const std::string before = accountFiles(), answer = row.by.ask("1 " + row.request);
        EXPECT_NE(answer.find(row.expected), std::string::npos) << row.request << " with " << row.to << ": " << answer;
        EXPECT_TRUE(answer.rfind("1 err", 0) != 0 || accountFiles() == before) << row.request;
        EXPECT_TRUE(answer.rfind(denied, 0) != 0 || answer.ends_with("root%20として変更してください。")) << answer;
        std::ofstream(row.file) << kept;
    }
}

// In this test's own mount namespace: /dev/log a socket it reads, nscd a script noting held locks.
TEST(LocalWrites, EveryChangeIsLoggedOnceAndCachesAreFlushedAfterTheLock) {
    REQUIRE_SANDBOX();
    const std::string name = sandbox::createUser("audit");
    const testutil::TempDir sbin;
    sbin.write("nscd", "#!/bin/sh\n{ [ -e /etc/passwd.lock ] || [ -e /etc/group.lock ] && echo locked; echo $2; } >>" +
                           sbin.path() + "/ran\n");
    ASSERT_TRUE(::chmod((sbin.path() + "/nscd").c_str(), 0755) == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                ::mount("quill-dev", "/dev", "tmpfs", 0, nullptr) == 0 &&
                ::mount(sbin.path().c_str(), "/usr/sbin", nullptr, MS_BIND, nullptr) == 0);
    std::ofstream("/dev/null"); // where the tools' output goes
    const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address{AF_UNIX, "/dev/log"};
    ASSERT_EQ(::bind(log, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    HelperProcess process;
    std::string answers;
    for (const std::string& request :
         {name + " expire-password=1 password=Hidden-Pw-7", name + " description=x", std::string("root disabled=1")})
        answers += process.ask("1 commit " + request).substr(0, 5);
    EXPECT_EQ(answers, "1 ok1 ok1 err");
    unixacct::LocalAdmin().changeMembership("users", name, true);
    for (const std::string& want : {"user '" + name + "': set password, expire password (asked by uid 1000)",
                                    "user '" + name + "': change description (asked by uid 1000)",
                                    "user '" + name + "': add to group 'users' (asked by uid 0)"}) {
        char text[512] = {};
        pollfd ready{log, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 5000), 1) << want;
        const std::string got(text, static_cast<std::size_t>(std::max<ssize_t>(0, ::recv(log, text, sizeof text, 0))));
        EXPECT_TRUE(got.rfind("<85>", 0) == 0 && got.find(want) != got.npos && got.find("Hidden") == got.npos) << got;
    }
    pollfd more{log, POLLIN, 0};
    EXPECT_EQ(::poll(&more, 1, 300), 0); // one line per change, none for the refused one
    EXPECT_EQ(sandbox::slurp(sbin.path() + "/ran"), "passwd\ngroup\n");
}

// A silent helper costs one step its answer limit, and the next step gets a fresh helper.
TEST(HelperSession, AHelperThatNeverAnswersFailsTheStepAndIsReplaced) {
    const testutil::TempDir dir;
    unixacct::HelperAdmin admin(
        {"/bin/sh", "-c", "echo >>" + dir.path() + "/starts; read l; echo '1 ok'; exec sleep 20 2>&-"}, {},
        std::chrono::milliseconds(300));
    for (std::size_t start = 1; start <= 2; ++start) {
        try {
            admin.lockedOut("alice");
        } catch (const directory::Error& e) {
            EXPECT_EQ(e.number(), codes::kTimeout);
        }
        EXPECT_EQ(sandbox::slurp(dir.path() + "/starts").size(), start);
    }
}

} // namespace
