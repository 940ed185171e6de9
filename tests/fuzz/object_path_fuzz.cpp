#include <fuzzer/FuzzedDataProvider.h>

#include "directory/error.h"
#include "directory/object_path.h"
#include "fuzz_check.h"

using directory::ObjectPath;
using directory::parsePath;

namespace {

std::string rebuild(const ObjectPath& path) {
    std::string text(directory::kProviderPrefix);
    text += path.target;
    if (path.computer)
        text += "/" + *path.computer;
    if (path.name)
        text += "/" + *path.name;
    if (!path.className.empty())
        text += "," + path.className;
    return text;
}

bool holds(std::string_view text, std::string_view chars) {
    return text.find_first_of(chars) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Whatever parses rebuilds to the very same text, and parsing never throws.
    const auto path = parsePath(text);
    if (path) {
        FUZZ_CHECK(rebuild(*path) == text);
        FUZZ_CHECK(!path->name || !path->name->empty());
        FUZZ_CHECK(!path->computer || !path->computer->empty());
        FUZZ_CHECK(!holds(path->target, "/") && !holds(path->className, "/,"));
    }
    bool threw = false;
    try {
        FUZZ_CHECK(directory::parsePathOrThrow(text) == *path);
    } catch (const directory::Error& e) {
        threw = true;
        FUZZ_CHECK(e.number() == directory::codes::kBadPathName);
    }
    FUZZ_CHECK(threw == !path.has_value());

    // What the builders make from a target and an account parses back into those parts.
    FuzzedDataProvider in(data, size);
    const std::string target = in.ConsumeRandomLengthString(64);
    const std::string account = in.ConsumeRemainingBytesAsString();
    if (holds(target, "/") || holds(account, "/"))
        return 0;
    const auto user = parsePath(directory::userPath(target, account));
    if (account.empty()) {
        FUZZ_CHECK(!user);
        return 0;
    }
    FUZZ_CHECK(user && user->target == target && !user->computer && user->name == account && user->className == "User");
    const auto group = parsePath(directory::groupPath(target, account));
    FUZZ_CHECK(group && group->name == account && group->className == "Group");
    if (!holds(account, ",")) {
        const auto bare = parsePath(directory::userPathWithoutClass(target, account));
        FUZZ_CHECK(bare && bare->target == target && bare->name == account && bare->className.empty());
    }
    if (!holds(target, ",")) {
        const auto container = parsePath(directory::containerPath(target));
        FUZZ_CHECK(container && container->isContainer() && container->target == target);
    }
    return 0;
}
