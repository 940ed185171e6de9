#include "fake_directory.h"

namespace fakes {

namespace {

using directory::Error;
using directory::Value;

class FakeObjectBase : public virtual directory::Object {
public:
    FakeObjectBase(FakeDirectory& dir, std::string path, std::string name)
        : m_dir(dir), m_path(std::move(path)), m_name(std::move(name)) {}

    std::string name() override {
        m_dir.record("get Name");
        return m_name;
    }
    std::string adsPath() override {
        m_dir.record("get ADsPath");
        return m_path;
    }

protected:
    FakeDirectory& m_dir;
    std::string m_path;
    std::string m_name;
};

class FakeGroupObject final : public FakeObjectBase, public directory::Group {
public:
    FakeGroupObject(FakeDirectory& dir, std::string path, std::string name, FakeGroup& group)
        : FakeObjectBase(dir, std::move(path), std::move(name)), m_group(group) {}

    void put(std::string_view property, const Value& value) override {
        m_dir.record("put " + std::string(property) + "=" + value.describe());
        throw Error(directory::codes::kPropertyNotSupported, "property not supported");
    }
    void setInfo() override { m_dir.record("SetInfo"); }
    std::string description() override {
        m_dir.record("get Group.Description");
        return m_group.description;
    }
    void add(const std::string& memberPath) override {
        m_dir.record("Add " + memberPath);
        m_group.members.push_back(memberPath);
    }
    void remove(const std::string& memberPath) override {
        m_dir.record("Remove " + memberPath);
        std::erase(m_group.members, memberPath);
    }

private:
    FakeGroup& m_group;
};

class FakeUserObject final : public FakeObjectBase, public directory::User {
public:
    FakeUserObject(FakeDirectory& dir, std::string path, std::string target, std::string name, FakeAccount& account)
        : FakeObjectBase(dir, std::move(path), name), m_target(std::move(target)), m_account(account),
          m_pending(account) {}

    void put(std::string_view property, const Value& value) override {
        m_dir.record("put " + std::string(property) + "=" + value.describe());
        if (property == "PasswordExpired")
            m_pending.passwordExpired = value.asInteger() == 1;
        else if (property == "AccountExpirationDate")
            m_pending.expiration = value;
        else
            throw Error(directory::codes::kPropertyNotSupported, "property not supported");
    }
    void setInfo() override {
        m_dir.record("SetInfo");
        m_account = m_pending;
    }
    std::string description() override {
        m_dir.record("get Description");
        return m_account.description;
    }
    void setDescription(const std::string& text) override {
        m_dir.record("put Description=" + text);
        m_pending.description = text;
    }
    bool accountDisabled() override {
        m_dir.record("get AccountDisabled");
        return m_account.disabled;
    }
    void setAccountDisabled(bool disabled) override {
        m_dir.record(std::string("put AccountDisabled=") + (disabled ? "true" : "false"));
        m_pending.disabled = disabled;
    }
    bool isAccountLocked() override {
        m_dir.record("get IsAccountLocked");
        return m_account.locked;
    }
    void setIsAccountLocked(bool locked) override {
        m_dir.record(std::string("put IsAccountLocked=") + (locked ? "true" : "false"));
        m_pending.locked = locked;
    }
    void setPassword(const directory::Secret& password) override {
        m_dir.record("SetPassword");
        // Acts at once, outside the pending changes.
        m_account.password.assign(password.view());
        m_pending.password = m_account.password;
    }
    bool passwordNeverExpires() override {
        m_dir.record("get PasswordNeverExpires");
        return m_account.passwordNeverExpires;
    }
    void groups(const std::function<void(directory::Group&)>& visit) override {
        m_dir.record("get Groups");
        for (const auto& name : m_account.groups) {
            auto& table = m_dir.groups[m_target];
            auto it = table.find(name);
            if (it == table.end())
                throw Error(directory::codes::kNoSuchGroup, "group vanished");
            FakeGroupObject group(m_dir, directory::groupPath(m_target, name), name, it->second);
            visit(group);
        }
    }

private:
    std::string m_target;
    FakeAccount& m_account;
    FakeAccount m_pending;
};

class FakeContainerObject final : public FakeObjectBase, public directory::Container {
public:
    FakeContainerObject(FakeDirectory& dir, std::string path, std::string target)
        : FakeObjectBase(dir, std::move(path), target), m_target(std::move(target)) {}

    void put(std::string_view property, const Value& value) override {
        m_dir.record("put " + std::string(property) + "=" + value.describe());
        if (property != "Filter")
            throw Error(directory::codes::kPropertyNotSupported, "property not supported");
        m_filtered = true;
    }
    void setInfo() override { m_dir.record("SetInfo"); }
    void enumerate(const std::function<void(directory::Object&)>& visit) override {
        m_dir.record("enumerate");
        // Without the filter the groups come too, which the caller cannot take as users.
        if (!m_filtered) {
            for (auto& [name, group] : m_dir.groups[m_target]) {
                FakeGroupObject object(m_dir, directory::groupPath(m_target, name), name, group);
                visit(object);
            }
        }
        auto& users = m_dir.accounts[m_target];
        std::vector<std::string> order;
        if (auto it = m_dir.listing.find(m_target); it != m_dir.listing.end())
            order = it->second;
        else
            for (const auto& entry : users)
                order.push_back(entry.first);
        for (const auto& name : order) {
            FakeUserObject object(m_dir, directory::userPath(m_target, name), m_target, name, users[name]);
            visit(object);
        }
    }

private:
    std::string m_target;
    bool m_filtered = false;
};

} // namespace

std::size_t FakeDirectory::count(std::string_view prefix) const {
    return matching(prefix).size();
}

std::vector<std::string> FakeDirectory::matching(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& line : log)
        if (std::string_view(line).substr(0, prefix.size()) == prefix)
            out.push_back(line);
    return out;
}

void FakeDirectory::record(std::string line) {
    log.push_back(line);
    if (duringCall)
        duringCall(line);
    if (failOn && line.rfind(*failOn, 0) == 0)
        throw Error(directory::codes::kAccessDenied, "Access is denied.");
}

std::unique_ptr<directory::Object> FakeDirectory::bind(std::string_view path) {
    record("bind " + std::string(path));
    const auto parsed = directory::parsePathOrThrow(path);
    if (!accounts.count(parsed.target) && !groups.count(parsed.target))
        throw Error(directory::codes::kNotFound, "The network path was not found.");
    if (parsed.isContainer())
        return std::make_unique<FakeContainerObject>(*this, std::string(path), parsed.target);
    const std::string& name = *parsed.name;
    auto& users = accounts[parsed.target];
    auto& groupTable = groups[parsed.target];
    if ((parsed.className.empty() || parsed.className == "User") && users.count(name))
        return std::make_unique<FakeUserObject>(*this, std::string(path), parsed.target, name, users[name]);
    if ((parsed.className.empty() || parsed.className == "Group") && groupTable.count(name))
        return std::make_unique<FakeGroupObject>(*this, std::string(path), name, groupTable[name]);
    throw Error(directory::codes::kNoSuchUser, "The user name could not be found.");
}

} // namespace fakes
