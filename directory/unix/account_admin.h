#pragma once

#include <optional>
#include <string>

#include "directory/secret.h"

namespace unixacct {

// What the shadow file says about an account's usability; never the hash itself.
struct ShadowState {
    bool passwordLocked = false; // the hash begins with "!"
    long lastChange = -1;        // -1 when empty
    long expire = -1;            // -1 when never
};

// The pending writes of one user object, applied together by one commit.
struct UserChange {
    std::string user;
    std::optional<std::string> description;
    std::optional<bool> disabled;
    bool unlock = false;
    bool expirePassword = false;
    std::optional<long> expiryDay; // -1: never
    std::optional<directory::Secret> password;
};

// The steps on this computer's own accounts that need root: reading the shadow state and the
// faillock tally, and every write. Run in-process when the program is root (LocalAdmin), else
// by the privileged helper (HelperAdmin). Every step checks names and values itself and throws
// directory::Error with a Japanese description the operator can act on.
class AccountAdmin {
public:
    virtual ~AccountAdmin() = default;
    virtual ShadowState shadowState(const std::string& user) = 0;
    virtual bool lockedOut(const std::string& user) = 0;
    // Applies every part of change or, when it throws, leaves the shadow file as it was. Reports
    // success only when the files read back as asked.
    virtual void commit(const UserChange& change) = 0;
    // Adds user to group's members, or removes it.
    virtual void changeMembership(const std::string& group, const std::string& user, bool add) = 0;
};

} // namespace unixacct
