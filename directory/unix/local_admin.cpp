#include "local_admin.h"

#include <algorithm>
#include <ctime>

#include "account_files.h"
#include "account_name.h"
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

LocalAdmin::LocalAdmin(AccountSources sources, std::shared_ptr<ToolRunner> runner, int lockWaitSeconds)
    : m_accounts(std::move(sources)), m_runner(runner ? std::move(runner) : std::make_shared<SpawnToolRunner>()),
      m_lockWaitSeconds(lockWaitSeconds) {}

PasswdEntry LocalAdmin::passwdEntry(const std::string& user) const {
    checkAccountName(user);
    auto entry = m_accounts.findUser(user);
    if (!entry)
        throw Error(codes::kNoSuchUser, "ローカルアカウント " + user + " はありません。名前を確かめてください。");
    return *entry;
}

ShadowState LocalAdmin::shadowState(const std::string& user) {
    const PasswdEntry entry = passwdEntry(user);
    ShadowState state;
    if (const auto shadow = m_accounts.findShadow(user)) {
        state.passwordLocked = !shadow->password.empty() && shadow->password.front() == '!';
        state.lastChange = shadow->lastChange;
        state.expire = shadow->expire;
    } else {
        // No shadow line: the password field of passwd is the hash itself.
        state.passwordLocked = !entry.password.empty() && entry.password.front() == '!';
    }
    return state;
}

bool LocalAdmin::lockedOut(const std::string& user) {
    const PasswdEntry entry = passwdEntry(user);
    const AccountSources& s = m_accounts.sources();
    const FaillockConfig config = loadFaillockSettings(s.faillockConfPath, s.pamAuthPaths);
    const TallyFile tally = readTallyFile(config.dir, user);
    return tally.exists && isLockedOut(tally.records, config, entry.uid == 0, std::time(nullptr));
}

void LocalAdmin::commit(const UserChange& change) {
    checkUserChange(change);
    passwdEntry(change.user);
    const AccountSources& s = m_accounts.sources();

    if (change.description) {
        const AccountFilesLock lock({s.passwdPath}, m_lockWaitSeconds);
        std::vector<std::string> wanted;
        const bool found = rewriteEntry(s.passwdPath, change.user, [&](std::vector<std::string>& f) {
            if (f.size() != kPasswdFields)
                throw Error(codes::kFail,
                            s.passwdPath + " の " + change.user + " の行が壊れています。変更しませんでした。");
            const bool differs = f[kGecos] != *change.description;
            f[kGecos] = *change.description;
            wanted = f;
            return differs;
        });
        if (!found || readEntry(s.passwdPath, change.user) != wanted)
            throw Error(codes::kFail, "説明を書き込みましたが、読み直すと指定どおりになっていません。");
    }

    const bool shadowChange = change.disabled || change.expirePassword || change.expiryDay || change.password;
    if (shadowChange) {
        // Hashing is slow on purpose: done before the lock is taken.
        std::string newHash;
        if (change.password)
            newHash = hashPassword(change.password->view(), s.loginDefsPath, s.pamPasswordPath);
        const std::string today = std::to_string(static_cast<long>(std::time(nullptr) / 86400));

        // The lock is held from the read to the rename: every decision is made on what is written.
        const AccountFilesLock lock({s.shadowPath}, m_lockWaitSeconds);
        std::vector<std::string> wanted;
        const bool found = rewriteEntry(s.shadowPath, change.user, [&](std::vector<std::string>& f) {
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
        if (readEntry(s.shadowPath, change.user) != wanted)
            throw Error(codes::kFail, "アカウントの状態を書き込みましたが、読み直すと指定どおりになっていません。");
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
    }
}

void LocalAdmin::changeMembership(const std::string& group, const std::string& user, bool add) {
    checkAccountName(group);
    const PasswdEntry entry = passwdEntry(user);
    const auto current = m_accounts.findGroup(group);
    if (!current)
        throw Error(codes::kNoSuchGroup, "ローカルグループ " + group + " はありません。名前を確かめてください。");
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
    runTool(*m_runner, {systemToolPath("gpasswd"), add ? "-a" : "-d", user, group});
    const auto after = m_accounts.findGroup(group);
    if (!after || listed(*after) != add)
        throw Error(codes::kFail,
                    "グループ " + group + " を書き込みましたが、読み直すとメンバーが指定どおりになっていません。");
}

} // namespace unixacct
