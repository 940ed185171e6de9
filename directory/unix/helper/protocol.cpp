#include "protocol.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "directory/error.h"
#include "directory/secret.h"
#include "directory/unix/account_name.h"
#include "directory/unix/local_admin.h"

namespace unixacct::helper {
namespace {

namespace codes = directory::codes;

bool needsEscape(unsigned char c) {
    return c < 0x21 || c == 0x7F || c == '%';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescapeWord(std::string_view word) {
    std::string out;
    out.reserve(word.size());
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        if (c < 0x21 || c == 0x7F) {
            directory::secureZero(out);
            return std::nullopt;
        }
        if (c != '%') {
            out += word[i];
            continue;
        }
        const int high = i + 2 < word.size() ? hexValue(word[i + 1]) : -1;
        const int low = i + 2 < word.size() ? hexValue(word[i + 2]) : -1;
        if (high < 0 || low < 0) {
            directory::secureZero(out);
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        words.push_back(line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
        if (space == std::string_view::npos)
            return words;
        start = space + 1;
    }
}

bool parseLong(std::string_view text, long& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

Refusal refuse(std::string description) {
    return Refusal{codes::kInvalidArg, std::move(description)};
}

// A name word: escaped text that is a safe account name.
std::optional<std::string> nameWord(std::string_view word) {
    auto name = unescapeWord(word);
    if (!name || !isSafeAccountName(*name))
        return std::nullopt;
    return name;
}

} // namespace

void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (needsEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
}

void eraseFront(std::string& buffer, std::size_t count) noexcept {
    const std::size_t size = buffer.size();
    count = std::min(count, size);
    std::memmove(buffer.data(), buffer.data() + count, size - count);
    directory::secureZero(buffer.data() + size - count, count);
    buffer.resize(size - count);
}

void wipeStorage(std::string& buffer) noexcept {
    buffer.resize(buffer.capacity());
    directory::secureZero(buffer);
    buffer.clear();
}

std::string escapeWord(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    appendEscaped(out, text);
    return out;
}

std::variant<Request, Refusal> parseRequest(std::string_view line) {
    if (line.size() > kMaxLineLength)
        return refuse("要求が長すぎます。");
    const std::vector<std::string_view> words = splitWords(line);
    if (words.size() < 2 || words[0] != std::to_string(kProtocolVersion))
        return refuse("この版の要求ではありません（版 " + std::to_string(kProtocolVersion) + " が必要です）。");
    const std::string_view op = words[1];
    Request request;
    if (op == "hello") {
        if (words.size() != 2)
            return refuse("hello に引数は付けられません。");
        return request;
    }
    if (op == "member-add" || op == "member-remove") {
        if (words.size() != 4)
            return refuse("グループとアカウントの名前が必要です。");
        const auto group = nameWord(words[2]);
        const auto user = nameWord(words[3]);
        if (!group || !user)
            return refuse("グループ名またはアカウント名が正しくありません。");
        request.operation = op == "member-add" ? Operation::AddMember : Operation::RemoveMember;
        request.group = *group;
        request.change.user = *user;
        return request;
    }
    if (op != "shadow" && op != "lockout" && op != "commit")
        return refuse("知らない操作です。");
    if (words.size() < 3)
        return refuse("アカウント名が必要です。");
    const auto user = nameWord(words[2]);
    if (!user)
        return refuse("アカウント名が正しくありません。");
    request.change.user = *user;
    if (op == "shadow" || op == "lockout") {
        if (words.size() != 3)
            return refuse("余分な引数があります。");
        request.operation = op == "shadow" ? Operation::Shadow : Operation::Lockout;
        return request;
    }
    request.operation = Operation::Commit;
    UserChange& change = request.change;
    std::vector<std::string_view> seen;
    for (std::size_t i = 3; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const auto eq = word.find('=');
        if (eq == std::string_view::npos)
            return refuse("変更は「名前=値」で指定してください。");
        const std::string_view key = word.substr(0, eq);
        const std::string_view raw = word.substr(eq + 1);
        for (const std::string_view k : seen)
            if (k == key)
                return refuse("同じ変更が二度指定されています。");
        seen.push_back(key);
        std::optional<std::string> value = unescapeWord(raw);
        if (!value)
            return refuse("値の書き方が正しくありません。");
        struct Wipe {
            std::string& s;
            ~Wipe() { directory::secureZero(s); }
        } wipe{*value};
        if (key == "description") {
            change.description = *value;
        } else if (key == "disabled" && (*value == "0" || *value == "1")) {
            change.disabled = *value == "1";
        } else if (key == "unlock" && *value == "1") {
            change.unlock = true;
        } else if (key == "expire-password" && *value == "1") {
            change.expirePassword = true;
        } else if (key == "expiry") {
            long day = 0;
            if (!parseLong(*value, day))
                return refuse("有効期限は日の番号で指定してください。");
            change.expiryDay = day;
        } else if (key == "password") {
            change.password.emplace(*value);
        } else {
            return refuse("知らない変更です。");
        }
    }
    try {
        checkUserChange(change);
    } catch (const directory::Error& e) {
        return Refusal{e.number(), e.description()};
    }
    return request;
}

std::string encodeRequest(const Request& request) {
    std::string line = std::to_string(kProtocolVersion) + " ";
    const UserChange& c = request.change;
    switch (request.operation) {
    case Operation::Hello:
        return line + "hello";
    case Operation::Shadow:
        return line + "shadow " + escapeWord(c.user);
    case Operation::Lockout:
        return line + "lockout " + escapeWord(c.user);
    case Operation::AddMember:
    case Operation::RemoveMember:
        return line + (request.operation == Operation::AddMember ? "member-add " : "member-remove ") +
               escapeWord(request.group) + " " + escapeWord(c.user);
    case Operation::Commit:
        break;
    }
    line += "commit " + escapeWord(c.user);
    if (c.description)
        line += " description=" + escapeWord(*c.description);
    if (c.disabled)
        line += *c.disabled ? " disabled=1" : " disabled=0";
    if (c.unlock)
        line += " unlock=1";
    if (c.expirePassword)
        line += " expire-password=1";
    if (c.expiryDay)
        line += " expiry=" + std::to_string(*c.expiryDay);
    if (c.password) {
        // Sized up front, so no reallocation leaves a copy of the password behind.
        line.reserve(line.size() + 16 + c.password->view().size() * 3); // room for the newline too
        line += " password=";
        appendEscaped(line, c.password->view()); // no temporary copy of the password
    }
    return line;
}

std::string okResponse(const std::vector<std::string>& words) {
    std::string line = std::to_string(kProtocolVersion) + " ok";
    for (const std::string& w : words)
        line += " " + escapeWord(w);
    return line;
}

std::string errorResponse(long code, std::string_view description) {
    return std::to_string(kProtocolVersion) + " err " + std::to_string(code) + " " + escapeWord(description);
}

std::variant<Response, Refusal> parseResponse(std::string_view line) {
    if (line.size() > kMaxLineLength)
        return refuse("ヘルパーの応答が長すぎます。");
    const std::vector<std::string_view> words = splitWords(line);
    if (words.size() < 2 || words[0] != std::to_string(kProtocolVersion))
        return refuse("ヘルパーの応答の版が違います。");
    Response response;
    if (words[1] == "ok") {
        response.ok = true;
        for (std::size_t i = 2; i < words.size(); ++i) {
            auto w = unescapeWord(words[i]);
            if (!w)
                return refuse("ヘルパーの応答が壊れています。");
            response.words.push_back(std::move(*w));
        }
        return response;
    }
    long code = 0;
    std::optional<std::string> description;
    if (words[1] != "err" || words.size() != 4 || !parseLong(words[2], code) || !(description = unescapeWord(words[3])))
        return refuse("ヘルパーの応答が壊れています。");
    response.code = code;
    response.description = std::move(*description);
    return response;
}

} // namespace unixacct::helper
