#include "local_admin.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include "account_files.h"
#include "account_name.h"
#include "administrators.h"
#include "directory/error.h"
#include "faillock.h"
#include "password_hash.h"
#include "unix_context.h"

namespace unixacct {
namespace {

using directory::Error;
namespace codes = directory::codes;

// Shadow fields: name, hash, last change, min, max, warn, inactive, expire, reserved.
constexpr std::size_t kHash = 1, kLastChange = 2, kExpire = 7, kShadowFields = 9;
constexpr std::size_t kGecos = 4, kPasswdFields = 7;
// 9999-12-31, the last day a date text can name.
constexpr long kLastExpiryDay = 2932896;

// group and gshadow alike: name, password, gid or administrators, members.
constexpr std::size_t kMembers = 3, kGroupFields = 4;

std::vector<std::string> memberList(const std::string& field) {
    std::vector<std::string> members;
    std::size_t start = 0;
    while (start <= field.size() && !field.empty()) {
        const auto comma = field.find(',', start);
        std::string m = field.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!m.empty())
            members.push_back(std::move(m));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return members;
}

bool hasMember(const std::string& field, const std::string& user) {
    const auto members = memberList(field);
    return std::find(members.begin(), members.end(), user) != members.end();
}

std::string editedMembers(const std::string& field, const std::string& user, bool add) {
    std::vector<std::string> members = memberList(field);
    members.erase(std::remove(members.begin(), members.end(), user), members.end());
    if (add)
        members.push_back(user);
    std::string out;
    for (const std::string& m : members)
        out += (out.empty() ? "" : ",") + m;
    return out;
}

bool gshadowExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// Other programs read accounts through NSS; a caching daemon would go on answering with the old
// entry. shadow-utils tells nscd and sssd after each write; so do we, and a failure there is no
// failure of the write. Each tool gets a few seconds only: the change is already written, and the
// window waits for the whole commit no longer than its answer limit.
void flushNameCaches(const std::string& writtenFile, const char* table) {
    if (writtenFile.rfind("/etc/", 0) != 0)
        return; // not the system's database: nothing of it is cached
    SpawnToolRunner runner(5);
    try {
        const std::string nscd = systemToolPath("nscd");
        if (::access(nscd.c_str(), X_OK) == 0)
            runner.run({nscd, "--invalidate", table}, {});
        const std::string sssCache = systemToolPath("sss_cache");
        if (::access(sssCache.c_str(), X_OK) == 0)
            runner.run({sssCache, std::string(table) == "group" ? "-G" : "-U"}, {});
    } catch (const Error&) {
        // Written is written: the cache answers from its old entry until that expires.
    }
}

// A number from login.defs ("KEY value"), or fallback when it is missing or no number.
unsigned long loginDefsNumber(const std::string& path, const std::string& key, unsigned long fallback) {
    std::ifstream in(path);
    std::string line;
    unsigned long value = fallback;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string k, v;
        if (words >> k >> v && k == key)
            try {
                std::size_t used = 0;
                const unsigned long n = std::stoul(v, &used);
                if (used == v.size())
                    value = n;
            } catch (const std::exception&) {
            }
    }
    return value;
}

bool isDisabledExpiry(const std::string& field) {
    return field == "0" || field == "1";
}

} // namespace

void checkUserChange(const UserChange& change) {
    checkAccountName(change.user);
    if (change.description && !isSafeGecos(*change.description))
        throw Error(codes::kBadParameter,
                    "説明に「:」、改行、制御文字、UTF-8 でない文字は使えません。その文字を除いてください。");
    if (change.expiryDay && *change.expiryDay != -1 && (*change.expiryDay < 1 || *change.expiryDay > kLastExpiryDay))
        throw Error(codes::kBadParameter, "有効期限の日付が範囲外です。9999年12月31日までの日付を指定してください。");
    if (change.password) {
        const std::string_view text = change.password->view();
        if (text.empty())
            throw Error(codes::kPasswordPolicy, "パスワードが空です。新しいパスワードを入力してください。");
        if (text.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos)
            throw Error(codes::kPasswordPolicy,
                        "パスワードに改行や NUL 文字は使えません。別のパスワードにしてください。");
    }
}

LocalAdmin::LocalAdmin(AccountSources sources, std::shared_ptr<ToolRunner> runner, int lockWaitSeconds, Caller caller)
    : m_accounts(std::move(sources)), m_runner(runner ? std::move(runner) : std::make_shared<SpawnToolRunner>()),
      m_lockWaitSeconds(lockWaitSeconds), m_caller(caller) {
    if (m_caller.uid == static_cast<uid_t>(-1))
        m_caller.uid = ::getuid();
}

void LocalAdmin::checkReach(const PasswdEntry& user, const GroupEntry* group) const {
    if (!m_caller.protectSystemAccounts)
        return;
    // shadow-utils' own defaults when login.defs says nothing.
    const std::string& defs = m_accounts.sources().loginDefsPath;
    const std::string asRoot = "ここからは変更できません。root として変更してください。";
    if (user.uid == 0 || user.uid < loginDefsNumber(defs, "UID_MIN", 1000) ||
        user.uid > loginDefsNumber(defs, "UID_MAX", 60000))
        throw Error(codes::kAccessDenied, user.name + " は root またはシステムのアカウント（UID " +
                                              std::to_string(user.uid) + "）なので、" + asRoot);
    if (group &&
        (group->gid < loginDefsNumber(defs, "GID_MIN", 1000) || group->gid > loginDefsNumber(defs, "GID_MAX", 60000)))
        throw Error(codes::kAccessDenied,
                    group->name + " はシステムのグループ（GID " + std::to_string(group->gid) + "）なので、" + asRoot);
    // Whoever can change an administrator's password or groups becomes one.
    std::optional<Administrators> administrators;
    try {
        administrators.emplace(m_accounts.sources());
    } catch (const Error& e) {
        throw Error(codes::kAccessDenied,
                    e.description() + "このコンピューターの管理者かどうか確かめられないので、" + asRoot);
    }
    if (administrators->everyone())
        throw Error(codes::kAccessDenied,
                    "sudoers が ALL またはネットグループに管理を許していて、どのアカウントも管理者になりうるので、" +
                        asRoot);
    if (const std::string why = administrators->reason(user); !why.empty())
        throw Error(codes::kAccessDenied, user.name + " はこのコンピューターの管理者（" + why + "）なので、" + asRoot);
    if (group && administrators->administers(*group))
        throw Error(codes::kAccessDenied, group->name + " はこのコンピューターを管理するグループなので、" + asRoot);
}

// One line per change, as shadow-utils writes: what, whose, asked by whom.
void LocalAdmin::audit(const std::string& what, const std::string& account) const {
    ::syslog(LOG_AUTHPRIV | LOG_NOTICE, "user '%s': %s (asked by uid %lu)", account.c_str(), what.c_str(),
             static_cast<unsigned long>(m_caller.uid));
}

PasswdEntry LocalAdmin::passwdEntry(const std::string& user) const {
    checkAccountName(user);
    auto entry = m_accounts.findUser(user);
    if (!entry)
        throw Error(codes::kNoSuchUser, "ローカルアカウント " + user + " はありません。名前を確かめてください。");
    return *entry;
}

ShadowState LocalAdmin::shadowState(const std::string& user) {
    checkAccountName(user);
    ShadowState state;
    if (const auto shadow = m_accounts.findShadow(user)) {
        state.passwordLocked = !shadow->password.empty() && shadow->password.front() == '!';
        state.lastChange = shadow->lastChange;
        state.expire = shadow->expire;
    } else {
        // No shadow line: the password field of passwd is the hash itself.
        const PasswdEntry entry = passwdEntry(user);
        state.passwordLocked = !entry.password.empty() && entry.password.front() == '!';
    }
    return state;
}

bool LocalAdmin::lockedOut(const std::string& user) {
    checkAccountName(user);
    const AccountSources& s = m_accounts.sources();
    const FaillockConfig config = loadFaillockSettings(s.faillockConfPath, s.pamAuthPaths);
    const TallyFile tally = readTallyFile(config.dir, user);
    if (!tally.exists)
        return false;
    // root's own rules apply by uid, so only a tally makes passwd worth reading.
    return isLockedOut(tally.records, config, passwdEntry(user).uid == 0, std::time(nullptr));
}

void LocalAdmin::commit(const UserChange& change) {
    checkUserChange(change);
    const bool shadowChange = change.disabled || change.expirePassword || change.expiryDay || change.password;
    if ((change.description ? 1 : 0) + (shadowChange ? 1 : 0) + (change.unlock ? 1 : 0) > 1)
        throw Error(codes::kBadParameter,
                    "説明、アカウントの状態（有効・無効、パスワード、有効期限）、ロックアウトの解除は、"
                    "一度には書き込めません。別々に実行してください。");
    checkReach(passwdEntry(change.user), nullptr);
    const AccountSources& s = m_accounts.sources();
    std::vector<std::string> done;

    if (change.description) {
        std::vector<std::string> wanted;
        {
            const AccountFilesLock lock({s.passwdPath}, m_lockWaitSeconds);
            const bool found =
                rewriteEntry(AccountFile::Passwd, s.passwdPath, change.user, [&](std::vector<std::string>& f) {
                    if (f.size() != kPasswdFields)
                        throw Error(codes::kFail,
                                    s.passwdPath + " の " + change.user + " の行が壊れています。変更しませんでした。");
                    const bool differs = f[kGecos] != *change.description;
                    f[kGecos] = *change.description;
                    wanted = f;
                    return differs;
                });
            if (!found || readEntry(AccountFile::Passwd, s.passwdPath, change.user) != wanted)
                throw Error(codes::kFail, "説明を書き込みましたが、読み直すと指定どおりになっていません。");
        }
        // Outside the lock: a slow cache daemon must not make other tools give up on the files.
        flushNameCaches(s.passwdPath, "passwd");
        done.push_back("change description");
    }

    if (shadowChange) {
        // Hashing is slow on purpose: done before the lock is taken.
        std::string newHash;
        if (change.password)
            newHash = hashPassword(change.password->view(), s.loginDefsPath, s.pamPasswordPath);
        const std::string today = std::to_string(static_cast<long>(std::time(nullptr) / 86400));

        // The lock is held from the read to the rename: every decision is made on what is written.
        const AccountFilesLock lock({s.shadowPath}, m_lockWaitSeconds);
        std::vector<std::string> wanted;
        const bool found =
            rewriteEntry(AccountFile::Shadow, s.shadowPath, change.user, [&](std::vector<std::string>& f) {
                if (f.size() != kShadowFields)
                    throw Error(codes::kFail,
                                s.shadowPath + " の " + change.user + " の行が壊れています。変更しませんでした。");
                const std::vector<std::string> before = f;
                std::string& hash = f[kHash];
                if (change.disabled && *change.disabled) {
                    if (hash.empty() || hash.front() != '!')
                        hash.insert(0, "!");
                    f[kExpire] = "1";
                } else if (change.disabled) {
                    hash.erase(0, hash.find_first_not_of('!') == std::string::npos ? hash.size()
                                                                                   : hash.find_first_not_of('!'));
                    if (hash.empty())
                        hash = "*"; // nothing behind the lock: no typeable password, but not locked
                    if (isDisabledExpiry(f[kExpire]))
                        f[kExpire].clear();
                }
                if (change.password) {
                    // A disabled account stays disabled: the lock mark stays in front of the new hash.
                    const bool locked = !hash.empty() && hash.front() == '!';
                    hash = (locked ? "!" : "") + newHash;
                    f[kLastChange] = today;
                }
                if (change.expirePassword)
                    f[kLastChange] = "0";
                if (change.expiryDay)
                    f[kExpire] = *change.expiryDay < 0 ? std::string() : std::to_string(*change.expiryDay);
                wanted = f;
                return f != before;
            });
        if (!found)
            throw Error(codes::kFail,
                        change.user + " の行が " + s.shadowPath +
                            " にありません。pwconv で shadow の行を作ってから、もう一度実行してください。");
        if (readEntry(AccountFile::Shadow, s.shadowPath, change.user) != wanted)
            throw Error(codes::kFail, "アカウントの状態を書き込みましたが、読み直すと指定どおりになっていません。");
        if (change.disabled)
            done.push_back(*change.disabled ? "disable" : "enable");
        if (change.password)
            done.push_back("set password");
        if (change.expirePassword)
            done.push_back("expire password");
        if (change.expiryDay)
            done.push_back(*change.expiryDay < 0 ? "remove account expiry"
                                                 : "set account expiry to day " + std::to_string(*change.expiryDay));
    }

    if (change.unlock) {
        const FaillockConfig config = loadFaillockSettings(s.faillockConfPath, s.pamAuthPaths);
        const TallyFile tally = readTallyFile(config.dir, change.user);
        if (tally.exists && !tally.records.empty())
            runTool(*m_runner, {systemToolPath("faillock"), "--dir", config.dir, "--user", change.user, "--reset"});
        const TallyFile after = readTallyFile(config.dir, change.user);
        const PasswdEntry entry = passwdEntry(change.user);
        if (after.exists && isLockedOut(after.records, config, entry.uid == 0, std::time(nullptr)))
            throw Error(codes::kFail, "ロックアウトを解除できませんでした。" + config.dir + " の " + change.user +
                                          " の記録を確かめてください。");
        done.push_back("reset failed logins");
    }
    std::string what;
    for (const std::string& step : done)
        what += (what.empty() ? "" : ", ") + step;
    if (!what.empty())
        audit(what, change.user);
}

void LocalAdmin::changeMembership(const std::string& group, const std::string& user, bool add) {
    checkAccountName(group);
    const PasswdEntry entry = passwdEntry(user);
    const auto current = m_accounts.findGroup(group);
    if (!current)
        throw Error(codes::kNoSuchGroup, "ローカルグループ " + group + " はありません。名前を確かめてください。");
    checkReach(entry, &*current);
    auto listed = [&](const GroupEntry& g) {
        return std::find(g.members.begin(), g.members.end(), user) != g.members.end();
    };
    if (add && (listed(*current) || entry.gid == current->gid))
        throw Error(codes::kMemberInGroup, user + " はすでにグループ " + group + " のメンバーです。");
    if (!add && !listed(*current))
        throw Error(codes::kMemberNotInGroup,
                    entry.gid == current->gid
                        ? group + " は " + user +
                              " の主グループなので外せません。主グループは usermod -g で変えてください。"
                        : user + " はグループ " + group + " のメンバーではありません。");
    // Decided again under the lock, on what is about to be rewritten; group and gshadow change together.
    const AccountSources& s = m_accounts.sources();
    const std::vector<std::string> files = gshadowExists(s.gshadowPath)
                                               ? std::vector<std::string>{s.groupPath, s.gshadowPath}
                                               : std::vector<std::string>{s.groupPath};
    std::vector<std::string> prepared;
    std::optional<AccountFilesLock> lock(std::in_place, files, m_lockWaitSeconds);
    for (const std::string& file : files) {
        bool changed = false;
        const bool found = prepareEntry(
            file == s.groupPath ? AccountFile::Group : AccountFile::Gshadow, file, group,
            [&](std::vector<std::string>& f) {
                if (f.size() != kGroupFields)
                    throw Error(codes::kFail, file + " の " + group + " の行が壊れています。変更しませんでした。");
                f[kMembers] = editedMembers(f[kMembers], user, add);
                return true;
            },
            changed);
        if (!found && file == s.groupPath)
            throw Error(codes::kNoSuchGroup, "ローカルグループ " + group + " はありません。名前を確かめてください。");
        if (changed)
            prepared.push_back(file);
    }
    commitPrepared(prepared);
    lock.reset(); // a slow cache daemon must not make other tools give up on the files
    if (!prepared.empty())
        flushNameCaches(s.groupPath, "group");
    for (const std::string& file : files) {
        const auto f = readEntry(file == s.groupPath ? AccountFile::Group : AccountFile::Gshadow, file, group);
        if (f.empty() && file != s.groupPath)
            continue;
        if (f.size() != kGroupFields || hasMember(f[kMembers], user) != add)
            throw Error(codes::kFail,
                        "グループ " + group + " を書き込みましたが、読み直すとメンバーが指定どおりになっていません。");
    }
    audit((add ? "add to group '" : "remove from group '") + group + "'", user);
}

} // namespace unixacct
