#pragma once

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace unixacct {

// Whom the sudoers files name, read as more than sudo would grant and never less: every user,
// group, uid and gid in the user list of a rule, of a User_Alias or of a
// "Defaults:" binding, negated or not. An alias used in a list is a name like any other; its
// members are named where it is defined.
struct SudoersNames {
    bool everyone = false; // ALL or a netgroup in a user list: anyone may be granted
    std::set<std::string> users;
    std::set<std::string> groups; // %group and %:group
    std::set<uid_t> uids;         // #uid
    std::set<gid_t> gids;         // %#gid
};

// Reads path and every file it includes, found as sudo finds them: #include and @include
// relative to the including file's folder, "%h" the short host name; #includedir and
// @includedir take the folder's regular files whose names hold no "." and do not end in "~",
// in name order. A missing path (no sudo installed) or include folder names no one. Any other
// file that cannot be read, a missing include file, a line that is no sudoers syntax, or
// includes nested too deep throw directory::Error (access denied) naming the file: what cannot
// be read may grant anyone.
SudoersNames readSudoers(const std::string& path);

// Adds what one file's text names to names; include(path, isFolder) is called for each include
// line with the path as written, quotes and escapes removed. Throws directory::Error naming
// file and line for a line it cannot read.
void parseSudoers(std::string_view text, const std::string& file, SudoersNames& names,
                  const std::function<void(const std::string& path, bool isFolder)>& include);

} // namespace unixacct
