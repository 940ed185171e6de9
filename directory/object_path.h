#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace directory {

inline constexpr std::string_view kProviderPrefix = "WinNT://";

// The four forms the program builds, by plain concatenation with no trimming or escaping.
std::string userPath(std::string_view target, std::string_view account);             // WinNT://target/account,User
std::string groupPath(std::string_view target, std::string_view group);              // WinNT://target/group,Group
std::string userPathWithoutClass(std::string_view target, std::string_view account); // WinNT://target/account
std::string containerPath(std::string_view name);                                    // WinNT://name

// A parsed path. `WinNT://name` is a container: target = name, no object name.
// `WinNT://domain/computer/name[,Class]` addresses an account of one computer in a domain.
struct ObjectPath {
    std::string target;
    std::optional<std::string> computer;
    std::optional<std::string> name; // absent for a container
    std::string className;           // "User", "Group", ... or empty when none was given

    bool isContainer() const noexcept { return !name.has_value(); }
    // The host the object lives on: the computer when one is named, else the target.
    const std::string& host() const noexcept { return computer ? *computer : target; }
    bool operator==(const ObjectPath&) const = default;
};

// Parses any text; returns nothing for what is not one of the forms above (wrong prefix, too many
// slashes, an empty object name or class after a separator). Never throws.
std::optional<ObjectPath> parsePath(std::string_view text);

// parsePath, throwing directory::Error (bad path name) instead of returning nothing.
ObjectPath parsePathOrThrow(std::string_view text);

} // namespace directory
