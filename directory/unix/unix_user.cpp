#include "unix_user.h"

#include <ctime>

#include "account_expiry.h"
#include "account_name.h"
#include "directory/date_text.h"
#include "faillock.h"
#include "unix_group.h"

namespace unixacct {
namespace {

bool isLockedHash(const std::string& hash) {
    return !hash.empty() && hash.front() == '!';
}

// Expiry day 1 is the disabled mark; 0 is what some tools leave for the same purpose.
bool isDisabledExpiry(long day) {
    return day == 0 || day == 1;
}

} // namespace

UnixUser::UnixUser(std::shared_ptr<const UnixContext> context, directory::ObjectPath path, PasswdEntry entry)
    : m_context(std::move(context)), m_path(std::move(path)), m_entry(std::move(entry)) {}

std::string UnixUser::name() {
    return m_entry.name;
}

std::string UnixUser::adsPath() {
    return objectPathText(m_path, m_entry.name, "User");
}

void UnixUser::put(std::string_view property, const directory::Value& value) {
    using directory::codes::kBadParameter;
    if (equalsNoCase(property, "Description")) {
        setDescription(value.asText());
    } else if (equalsNoCase(property, "AccountDisabled")) {
        setAccountDisabled(value.asBoolean());
    } else if (equalsNoCase(property, "IsAccountLocked")) {
        setIsAccountLocked(value.asBoolean());
    } else if (equalsNoCase(property, "PasswordExpired")) {
        if (value.asInteger() != 1)
            throw directory::Error(kBadParameter, "PasswordExpired can only be set to 1 for a local account.");
        m_expirePassword = true;
    } else if (equalsNoCase(property, "AccountExpirationDate")) {
        if (value.isInteger()) {
            if (value.asInteger() != 1)
                throw directory::Error(kBadParameter, "AccountExpirationDate takes a date or the integer 1.");
            m_newExpiryDay = -1;
        } else {
            const auto date = directory::parseDateText(value.asText());
            if (!date)
                throw directory::Error(kBadParameter, "AccountExpirationDate: \"" + value.asText() + "\" is no date.");
            m_newExpiryDay = shadowExpiryDay(*date);
        }
    } else {
        throw directory::Error(directory::codes::kPropertyNotSupported,
                               "The property " + std::string(property) + " is not supported by local accounts.");
    }
}

ShadowEntry UnixUser::readShadow() const {
    if (auto shadow = m_context->accounts.findShadow(m_entry.name))
        return *shadow;
    // No shadow line: the password field of passwd is the hash itself.
    ShadowEntry fromPasswd;
    fromPasswd.name = m_entry.name;
    fromPasswd.password = m_entry.password;
    return fromPasswd;
}

std::string UnixUser::description() {
    return m_newDescription ? *m_newDescription : m_entry.gecos;
}

void UnixUser::setDescription(const std::string& text) {
    m_newDescription = text;
}

bool UnixUser::accountDisabled() {
    if (m_newDisabled)
        return *m_newDisabled;
    const ShadowEntry shadow = readShadow();
    return isLockedHash(shadow.password) || isDisabledExpiry(shadow.expire);
}

void UnixUser::setAccountDisabled(bool disabled) {
    m_newDisabled = disabled;
}

bool UnixUser::isAccountLocked() {
    if (m_unlock)
        return false;
    const FaillockConfig config = loadFaillockConfig(m_context->accounts.sources().faillockConfPath);
    const TallyFile tally = readTallyFile(config.dir, m_entry.name);
    return tally.exists && isLockedOut(tally.records, config, m_entry.uid == 0, std::time(nullptr));
}

void UnixUser::setIsAccountLocked(bool locked) {
    if (locked)
        throw directory::Error(directory::codes::kBadParameter, "A local account cannot be locked out on purpose.");
    m_unlock = true;
}

std::vector<std::string> UnixUser::usermodArguments() {
    std::vector<std::string> args;
    m_extraUnlocks = 0;
    if (m_newDescription) {
        if (!isSafeGecos(*m_newDescription))
            throw directory::Error(directory::codes::kBadParameter,
                                   "A local account's description cannot hold \":\", a line break or invalid UTF-8.");
        args.insert(args.end(), {"-c", *m_newDescription});
    }
    if (m_newDisabled && *m_newDisabled) {
        args.insert(args.end(), {"-L", "-e", "1"});
    } else if (m_newDisabled) {
        const ShadowEntry shadow = readShadow();
        if (isLockedHash(shadow.password)) {
            const std::size_t marks = shadow.password.find_first_not_of('!');
            if (marks == std::string::npos) {
                args.insert(args.end(), {"-p", "*"});
            } else {
                args.push_back("-U");
                m_extraUnlocks = static_cast<int>(marks) - 1;
            }
        }
        if (isDisabledExpiry(shadow.expire))
            args.insert(args.end(), {"-e", ""});
    }
    return args;
}

void UnixUser::setInfo() {
    // Everything is checked and composed before the first tool runs.
    std::vector<std::string> usermod = usermodArguments();
    std::vector<std::string> chage;
    if (m_expirePassword)
        chage.insert(chage.end(), {"-d", "0"});
    if (m_newExpiryDay)
        chage.insert(chage.end(), {"-E", std::to_string(*m_newExpiryDay)});
    std::string faillockDir;
    if (m_unlock) {
        const FaillockConfig config = loadFaillockConfig(m_context->accounts.sources().faillockConfPath);
        // No tally means nothing to clear; faillock would succeed without changing anything.
        if (readTallyFile(config.dir, m_entry.name).exists)
            faillockDir = config.dir;
    }

    if (!usermod.empty()) {
        usermod.insert(usermod.begin(), systemToolPath("usermod"));
        usermod.insert(usermod.end(), {"--", m_entry.name});
        runTool(*m_context, std::move(usermod));
        for (int i = 0; i < m_extraUnlocks; ++i)
            runTool(*m_context, {systemToolPath("usermod"), "-U", "--", m_entry.name});
    }
    if (!chage.empty()) {
        chage.insert(chage.begin(), systemToolPath("chage"));
        chage.insert(chage.end(), {"--", m_entry.name});
        runTool(*m_context, std::move(chage));
    }
    if (!faillockDir.empty())
        runTool(*m_context, {systemToolPath("faillock"), "--dir", faillockDir, "--user", m_entry.name, "--reset"});

    if (m_newDescription)
        m_entry.gecos = *m_newDescription;
    m_newDescription.reset();
    m_newDisabled.reset();
    m_unlock = false;
    m_expirePassword = false;
    m_newExpiryDay.reset();
}

void UnixUser::setPassword(const directory::Secret& password) {
    const std::string_view text = password.view();
    if (text.empty())
        throw directory::Error(directory::codes::kPasswordPolicy, "A local account's password cannot be empty.");
    if (text.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos)
        throw directory::Error(directory::codes::kPasswordPolicy,
                               "A local account's password cannot hold a line break or a NUL character.");
    // One buffer, reserved up front so no copy of the password is left behind by a reallocation.
    std::string line;
    line.reserve(m_entry.name.size() + text.size() + 2);
    line.append(m_entry.name).append(1, ':').append(text).append(1, '\n');
    struct Wipe {
        std::string& s;
        ~Wipe() { directory::secureZero(s); }
    } wipe{line};
    runTool(*m_context, {systemToolPath("chpasswd")}, line);
}

void UnixUser::groups(const std::function<void(directory::Group&)>& visit) {
    const auto primary = m_context->accounts.findGroup(m_entry.gid);
    std::vector<GroupEntry> found;
    if (primary)
        found.push_back(*primary);
    m_context->accounts.forEachGroup([&](const GroupEntry& group) {
        if (primary && group.gid == primary->gid && group.name == primary->name)
            return true;
        for (const std::string& member : group.members)
            if (member == m_entry.name) {
                found.push_back(group);
                break;
            }
        return true;
    });
    for (GroupEntry& entry : found) {
        directory::ObjectPath groupPath = m_path;
        groupPath.name = entry.name;
        groupPath.className = "Group";
        UnixGroup group(m_context, std::move(groupPath), std::move(entry));
        visit(group);
    }
}

} // namespace unixacct
