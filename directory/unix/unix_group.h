#pragma once

#include <memory>

#include "directory/object_path.h"
#include "directory/service.h"
#include "unix_context.h"

namespace unixacct {

// A local group. It has no description of its own (the empty text) and no writable properties;
// membership changes run gpasswd at once.
class UnixGroup final : public directory::Group {
public:
    UnixGroup(std::shared_ptr<const UnixContext> context, directory::ObjectPath path, GroupEntry entry);

    std::string name() override;
    std::string adsPath() override;
    void put(std::string_view property, const directory::Value& value) override;
    void setInfo() override;

    std::string description() override;
    // memberPath: a user path of this computer. Already a member (also by primary group) and
    // not a member are errors, as on the platform's own directory.
    void add(const std::string& memberPath) override;
    void remove(const std::string& memberPath) override;

private:
    // The account a member path names and the group as the files hold it now.
    struct Membership {
        std::string user;
        bool byPrimaryGroup = false; // the group is the account's primary group
        bool listed = false;         // the group lists the account as a supplementary member
    };
    Membership membership(const std::string& memberPath) const;
    std::string memberName(const std::string& memberPath, gid_t& primaryGid) const;

    std::shared_ptr<const UnixContext> m_context;
    directory::ObjectPath m_path;
    GroupEntry m_entry;
};

} // namespace unixacct
