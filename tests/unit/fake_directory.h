#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "directory/object_path.h"
#include "directory/service.h"

namespace fakes {

struct FakeAccount {
    std::string description;
    bool disabled = false;
    bool locked = false;
    std::string password;
    bool passwordExpired = false;
    bool passwordNeverExpires = false;
    std::optional<directory::Value> expiration;
    std::vector<std::string> groups;
};

struct FakeGroup {
    std::string description;
    std::vector<std::string> members; // member paths as added
};

// An in-memory directory that records every bind, read, write and commit as one line of the
// call log, and can be told to refuse any one of them. Writes stay pending until SetInfo.
class FakeDirectory final : public directory::Service {
public:
    // target → accounts / groups. Binding a host not listed here fails like an unreachable server.
    std::map<std::string, std::map<std::string, FakeAccount>> accounts;
    std::map<std::string, std::map<std::string, FakeGroup>> groups;
    // The order a container enumerates its users in; name order when not given.
    std::map<std::string, std::vector<std::string>> listing;

    // Every call, in order: "bind WinNT://CORP/jdoe,User", "get Description", "put AccountDisabled=Boolean(false)",
    // "SetInfo", "SetPassword", "enumerate", "Add WinNT://CORP/jdoe", ...
    std::vector<std::string> log;

    // A call whose log line starts with this text throws instead (after being logged).
    std::optional<std::string> failOn;
    // Runs during every call, after it is logged: a slow directory, or the world changing meanwhile.
    std::function<void(const std::string& line)> duringCall;

    FakeAccount& account(const std::string& target, const std::string& name) { return accounts[target][name]; }
    std::size_t count(std::string_view prefix) const;
    // Log lines starting with prefix, in order.
    std::vector<std::string> matching(std::string_view prefix) const;

    std::unique_ptr<directory::Object> bind(std::string_view path) override;

    void record(std::string line);
};

} // namespace fakes
