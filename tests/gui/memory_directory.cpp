#include "memory_directory.h"

#include <QApplication>
#include <QCursor>

#include "directory/object_path.h"

namespace guitest {

namespace {

using directory::Error;
namespace codes = directory::codes;

class MemoryUser final : public directory::User {
public:
    MemoryUser(MemoryDirectory& directory, MemoryAccount& account, std::string path)
        : m_directory(directory), m_account(account), m_pending(account), m_path(std::move(path)) {}

    std::string name() override { return m_account.name; }
    std::string adsPath() override { return m_path; }
    void put(std::string_view property, const directory::Value& value) override {
        if (m_directory.refusedPuts.count(std::string(property)))
            throw Error(codes::kAccessDenied, "Access is denied.");
        if (property == "PasswordExpired")
            m_pending.passwordExpired = value.asInteger();
        else if (property == "AccountExpirationDate")
            m_pending.expiration = value;
        else
            throw Error(codes::kPropertyNotSupported, "The property is not supported.");
    }
    void setInfo() override { m_account = m_pending; }
    std::string description() override { return m_account.description; }
    void setDescription(const std::string& text) override { m_pending.description = text; }
    bool accountDisabled() override { return m_account.disabled; }
    void setAccountDisabled(bool disabled) override { m_pending.disabled = disabled; }
    bool isAccountLocked() override { return m_account.locked; }
    void setIsAccountLocked(bool locked) override { m_pending.locked = locked; }
    void setPassword(const directory::Secret& password) override {
        m_account.password = std::string(password.view());
        m_pending.password = m_account.password;
    }
    bool passwordNeverExpires() override { return m_account.passwordNeverExpires; }
    void groups(const std::function<void(directory::Group&)>&) override {}

private:
    MemoryDirectory& m_directory;
    MemoryAccount& m_account;
    MemoryAccount m_pending;
    std::string m_path;
};

class MemoryDomain final : public directory::Container {
public:
    MemoryDomain(MemoryDirectory& directory, std::vector<std::string> names)
        : m_directory(directory), m_names(std::move(names)) {}

    std::string name() override { return m_directory.domain(); }
    std::string adsPath() override { return directory::containerPath(m_directory.domain()); }
    void put(std::string_view property, const directory::Value& value) override {
        if (property != "Filter" || value.kind() != directory::Value::Kind::Array)
            throw Error(codes::kInvalidArg, "The parameter is incorrect.");
        m_filtered = true;
    }
    void setInfo() override {}
    void enumerate(const std::function<void(directory::Object&)>& visit) override {
        if (!m_filtered)
            throw Error(codes::kFail, "enumerated without a filter");
        for (const auto& name : m_names)
            if (auto* account = m_directory.find(name)) {
                MemoryUser user(m_directory, *account, directory::userPath(m_directory.domain(), name));
                visit(user);
            }
    }

private:
    MemoryDirectory& m_directory;
    std::vector<std::string> m_names;
    bool m_filtered = false;
};

} // namespace

MemoryAccount& MemoryDirectory::add(MemoryAccount account) {
    m_accounts.push_back(std::move(account));
    return m_accounts.back();
}

MemoryAccount* MemoryDirectory::find(std::string_view name) {
    for (auto& account : m_accounts)
        if (account.name == name)
            return &account;
    return nullptr;
}

std::unique_ptr<directory::Object> MemoryDirectory::bind(std::string_view path) {
    binds.emplace_back(path);
    const QCursor* cursor = QApplication::overrideCursor();
    busyAtBind.push_back(cursor && cursor->shape() == Qt::WaitCursor);

    const auto parsed = directory::parsePath(path);
    if (!parsed)
        throw Error(codes::kBadPathName, "An invalid directory pathname was passed.");
    if (parsed->target != m_domain)
        throw Error(codes::kNotFound, "The network path was not found.");
    if (parsed->isContainer()) {
        std::vector<std::string> names;
        for (const auto& account : m_accounts)
            names.push_back(account.name);
        return std::make_unique<MemoryDomain>(*this, std::move(names));
    }
    if (duringUserBind)
        duringUserBind();
    MemoryAccount* account = find(*parsed->name);
    if (!account)
        throw Error(codes::kNoSuchUser, "The user name could not be found.");
    return std::make_unique<MemoryUser>(*this, *account, std::string(path));
}

std::vector<std::string> MemoryDirectory::userBinds() const {
    std::vector<std::string> result;
    for (const auto& path : binds)
        if (const auto parsed = directory::parsePath(path); parsed && !parsed->isContainer())
            result.push_back(path);
    return result;
}

std::string describe(const MemoryAccount& account) {
    std::string line = account.disabled ? "disabled" : "enabled";
    line += account.locked ? " locked" : " unlocked";
    line += " password=" + account.password;
    if (account.passwordExpired)
        line += " expired=" + std::to_string(*account.passwordExpired);
    if (account.expiration)
        line += " expiry=" + account.expiration->describe();
    return line;
}

} // namespace guitest
