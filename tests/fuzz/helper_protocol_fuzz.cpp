#include <fuzzer/FuzzedDataProvider.h>

#include "directory/error.h"
#include "directory/unix/account_name.h"
#include "directory/unix/helper/protocol.h"
#include "directory/unix/local_admin.h"
#include "fuzz_check.h"

using namespace unixacct;
using namespace unixacct::helper;

namespace {

bool sameRequest(const Request& a, const Request& b) {
    const UserChange &x = a.change, &y = b.change;
    const bool samePassword =
        x.password.has_value() == y.password.has_value() && (!x.password || x.password->view() == y.password->view());
    return a.operation == b.operation && a.group == b.group && x.user == y.user && x.description == y.description &&
           x.disabled == y.disabled && x.unlock == y.unlock && x.expirePassword == y.expirePassword &&
           x.expiryDay == y.expiryDay && samePassword;
}

// One line, and nothing below a space or DEL in it, so neither side can read two requests from it.
void checkOneLine(const std::string& line) {
    for (const unsigned char c : line)
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
}

// Whether the helper must accept what the window sends: every name safe, every value allowed.
bool acceptable(const Request& request, const std::string& line) {
    if (line.size() > kMaxLineLength)
        return false;
    switch (request.operation) {
    case Operation::Hello:
        return true;
    case Operation::AddMember:
    case Operation::RemoveMember:
        return isSafeAccountName(request.group) && isSafeAccountName(request.change.user);
    case Operation::Shadow:
    case Operation::Lockout:
        return isSafeAccountName(request.change.user);
    case Operation::Commit:
        try {
            checkUserChange(request.change);
            return true;
        } catch (const directory::Error&) {
            return false;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    // Whatever the helper accepts it can write again, and reading that gives the same request.
    const auto parsed = parseRequest(line);
    if (const auto* request = std::get_if<Request>(&parsed)) {
        FUZZ_CHECK(line.size() <= kMaxLineLength);
        const std::string again = encodeRequest(*request);
        checkOneLine(again);
        const auto reread = parseRequest(again);
        FUZZ_CHECK(std::holds_alternative<Request>(reread) && sameRequest(std::get<Request>(reread), *request));
        FUZZ_CHECK(request->operation == Operation::Hello || isSafeAccountName(request->change.user));
    } else {
        FUZZ_CHECK(std::get<Refusal>(parsed).code != 0 && !std::get<Refusal>(parsed).description.empty());
    }

    // A response read from anything writes back to a line that reads the same.
    const auto response = parseResponse(line);
    if (const auto* r = std::get_if<Response>(&response)) {
        const std::string back = r->ok ? okResponse(r->words) : errorResponse(r->code, r->description);
        checkOneLine(back);
        const auto reread = parseResponse(back);
        FUZZ_CHECK(std::holds_alternative<Response>(reread));
        const Response& s = std::get<Response>(reread);
        FUZZ_CHECK(s.ok == r->ok && s.words == r->words && s.code == r->code && s.description == r->description);
    }

    // What the window sends from any names and values is one line, and the helper reads exactly it,
    // or refuses it when a name or value is not allowed.
    FuzzedDataProvider in(data, size);
    Request request;
    request.operation = in.PickValueInArray({Operation::Hello, Operation::Shadow, Operation::Lockout, Operation::Commit,
                                             Operation::AddMember, Operation::RemoveMember});
    if (request.operation != Operation::Hello)
        request.change.user = in.ConsumeRandomLengthString(40);
    if (request.operation == Operation::AddMember || request.operation == Operation::RemoveMember)
        request.group = in.ConsumeRandomLengthString(40);
    if (request.operation == Operation::Commit) {
        UserChange& c = request.change;
        if (in.ConsumeBool())
            c.description = in.ConsumeRandomLengthString(200);
        if (in.ConsumeBool())
            c.disabled = in.ConsumeBool();
        c.unlock = in.ConsumeBool();
        c.expirePassword = in.ConsumeBool();
        if (in.ConsumeBool())
            c.expiryDay = in.ConsumeIntegral<long>();
        if (in.ConsumeBool())
            c.password.emplace(in.ConsumeRandomLengthString(200));
    }
    const std::string sent = encodeRequest(request);
    checkOneLine(sent);
    const auto received = parseRequest(sent);
    const bool accepted = std::holds_alternative<Request>(received);
    FUZZ_CHECK(accepted == acceptable(request, sent));
    if (accepted)
        FUZZ_CHECK(sameRequest(std::get<Request>(received), request));

    // Responses carry any words and any description.
    std::vector<std::string> words;
    while (in.remaining_bytes() > 0 && words.size() < 8)
        words.push_back(in.ConsumeRandomLengthString(64));
    const auto ok = parseResponse(okResponse(words));
    if (okResponse(words).size() <= kMaxLineLength)
        FUZZ_CHECK(std::holds_alternative<Response>(ok) && std::get<Response>(ok).words == words);
    return 0;
}
