#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "directory/unix/account_admin.h"

// The local-accounts helper's protocol: one request line on its standard input, one response line
// on its standard output, in turn. A line is words separated by one space; each word is escaped so
// that it holds no byte below 0x21, no 0x7F and no "%" ("%HH" stands for such a byte).
//   request:  "1 hello" | "1 shadow USER" | "1 lockout USER" | "1 commit USER KEY=VALUE..." |
//             "1 member-add GROUP USER" | "1 member-remove GROUP USER"
//             commit keys: description, disabled (0|1), unlock (1), expire-password (1),
//             expiry (-1 or a day number), password; each at most once.
//   response: "1 ok WORD..." | "1 err CODE DESCRIPTION"
namespace unixacct::helper {

inline constexpr int kProtocolVersion = 1;
// The longest line either side accepts, newline excluded.
inline constexpr std::size_t kMaxLineLength = 4096;

enum class Operation { Hello, Shadow, Lockout, Commit, AddMember, RemoveMember };

struct Request {
    Operation operation = Operation::Hello;
    std::string group; // AddMember, RemoveMember
    UserChange change; // change.user names the account of every operation but Hello
};

struct Refusal {
    long code = 0;
    std::string description;
};

// Parses and checks one request line (without its newline) as the helper must before acting:
// the version, the operation, every name (isSafeAccountName) and every value. Pure: no files.
std::variant<Request, Refusal> parseRequest(std::string_view line);
std::string encodeRequest(const Request& request);

struct Response {
    bool ok = false;
    std::vector<std::string> words; // ok
    long code = 0;                  // err
    std::string description;        // err
};
std::string okResponse(const std::vector<std::string>& words);
std::string errorResponse(long code, std::string_view description);
// A refusal when the line is no response of this version.
std::variant<Response, Refusal> parseResponse(std::string_view line);

// The helper's input buffer, which holds passwords: drops the first count bytes and zeroes the
// bytes vacated behind the new end, so no copy of a later line stays in the spare capacity.
void eraseFront(std::string& buffer, std::size_t count) noexcept;
// Zeroes the whole storage of buffer, its capacity included, and empties it.
void wipeStorage(std::string& buffer) noexcept;

std::string escapeWord(std::string_view text);
// Appends the escaped text to out.
void appendEscaped(std::string& out, std::string_view text);

} // namespace unixacct::helper
