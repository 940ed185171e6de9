#include "object_path.h"

#include <vector>

#include "error.h"

namespace directory {

namespace {

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (auto p : parts)
        size += p.size();
    std::string out;
    out.reserve(size);
    for (auto p : parts)
        out += p;
    return out;
}

// Splits "name,Class" at the last comma. Both sides must be non-empty when a comma is present.
bool splitClass(std::string_view part, std::string& name, std::string& className) {
    const auto comma = part.rfind(',');
    if (comma == std::string_view::npos) {
        name.assign(part);
        className.clear();
        return true;
    }
    if (comma == 0 || comma + 1 == part.size())
        return false;
    name.assign(part.substr(0, comma));
    className.assign(part.substr(comma + 1));
    return true;
}

} // namespace

std::string userPath(std::string_view target, std::string_view account) {
    return concat({kProviderPrefix, target, "/", account, ",User"});
}

std::string groupPath(std::string_view target, std::string_view group) {
    return concat({kProviderPrefix, target, "/", group, ",Group"});
}

std::string userPathWithoutClass(std::string_view target, std::string_view account) {
    return concat({kProviderPrefix, target, "/", account});
}

std::string containerPath(std::string_view name) {
    return concat({kProviderPrefix, name});
}

std::optional<ObjectPath> parsePath(std::string_view text) {
    if (text.substr(0, kProviderPrefix.size()) != kProviderPrefix)
        return std::nullopt;
    std::string_view rest = text.substr(kProviderPrefix.size());

    std::vector<std::string_view> parts;
    for (;;) {
        const auto slash = rest.find('/');
        parts.push_back(rest.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }

    ObjectPath path;
    switch (parts.size()) {
    case 1: {
        // A container: a domain, workgroup or computer, optionally with its class.
        std::string name;
        if (!splitClass(parts[0], name, path.className))
            return std::nullopt;
        path.target = std::move(name);
        return path;
    }
    case 2:
    case 3: {
        path.target.assign(parts[0]);
        if (parts.size() == 3) {
            if (parts[1].empty())
                return std::nullopt;
            path.computer.emplace(parts[1]);
        }
        std::string name;
        if (!splitClass(parts.back(), name, path.className) || name.empty())
            return std::nullopt;
        path.name = std::move(name);
        return path;
    }
    default:
        return std::nullopt;
    }
}

ObjectPath parsePathOrThrow(std::string_view text) {
    if (auto path = parsePath(text))
        return std::move(*path);
    throw Error(codes::kBadPathName, "無効なディレクトリ パス名が渡されました。");
}

} // namespace directory
