#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sandbox {

// True inside tests/run-unix.sh: QUILL_UNIX_SANDBOX=1, running as root, and /etc a mount of its
// own (the private copy). Tests that run the real tools never run anywhere else.
bool active();

// Runs a program (absolute path, no shell) and returns its exit status; output is discarded.
int run(const std::vector<std::string>& argv, const std::string& input = {});

// A fresh local account made with useradd (its own group, password "Initial-Pw1"), named after
// the running test so no two tests share one.
std::string createUser(const std::string& stem, const std::string& comment = {}, bool withPassword = true);

// The colon-separated fields of name's line in an account file (empty when there is none).
std::vector<std::string> fields(const std::string& file, const std::string& name);

// Contents of a whole file.
std::string slurp(const std::string& path);

// The faillock directory the sandbox set up, and the PAM service that counts failures there.
inline constexpr const char* kPamService = "quill-faillock-test";
std::string faillockDir();
// Fails `count` logins of name through PAM (pamtester), as a mistyping person would.
void failLogins(const std::string& name, int count);

// days since 1970-01-01 of today, UTC, as the shadow tools count.
long todayDays();

} // namespace sandbox

#define REQUIRE_SANDBOX()                                                                                              \
    do {                                                                                                               \
        if (!sandbox::active())                                                                                        \
            GTEST_SKIP() << "needs the private /etc of tests/run-unix.sh";                                             \
    } while (false)
