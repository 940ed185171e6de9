#include "read_only_controller.h"

#include <ldap.h>

#include <algorithm>
#include <charconv>

#include "connection.h"
#include "directory/ascii.h"
#include "directory/error.h"
#include "entry.h"
#include "ldap_failure.h"

namespace ldapdir {

std::int64_t lockoutTimeOf(const Entry& entry) {
    const auto text = entry.first("lockoutTime");
    std::int64_t value = 0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), value).ec != std::errc())
        return 0;
    return value;
}

bool staleLock(std::int64_t lockoutTime, std::optional<std::int64_t> pdcLockoutTime, bool clearedHere) {
    if (!pdcLockoutTime)
        return false; // without the PDC emulator its reads count like any controller's
    return *pdcLockoutTime >= lockoutTime || clearedHere;
}

void ClearedLocks::add(const std::string& dn, std::int64_t lockoutTime) {
    const std::lock_guard lock(m_mutex);
    m_locks.emplace(directory::asciiLower(dn), lockoutTime);
}

bool ClearedLocks::contains(const std::string& dn, std::int64_t lockoutTime) const {
    const std::lock_guard lock(m_mutex);
    return m_locks.count({directory::asciiLower(dn), lockoutTime}) != 0;
}

void ClearedLocks::clear() {
    const std::lock_guard lock(m_mutex);
    m_locks.clear();
}

void clearLockoutAt(const std::vector<std::shared_ptr<Connection>>& writable, const Connection& written,
                    const std::string& dn) {
    for (const auto& at : writable) {
        if (at.get() == &written)
            continue;
        const auto lockoutTime = [&] {
            const auto now = at->findOne(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {"lockoutTime"});
            if (!now)
                throw directory::Error(directory::codes::kNoSuchUser, dn + " は " + at->host() + " にありません。");
            return lockoutTimeOf(*now);
        };
        try {
            if (lockoutTime() == 0)
                continue;
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            continue; // out of reach now: it hears of the unlock by replication, as a later change
        }
        std::vector<Modification> unlock;
        unlock.emplace_back(LDAP_MOD_REPLACE, "lockoutTime", std::vector<std::string>{"0"});
        at->modify(dn, unlock, [&](bool) { return lockoutTime() == 0 ? Held::Yes : Held::No; });
    }
}

} // namespace ldapdir
