#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ldapdir {

class Connection;
class Entry;

// lockoutTime as a server sends it (100-ns intervals since 1601); 0 when absent or unreadable.
std::int64_t lockoutTimeOf(const Entry& entry);

// Whether the lock a read-only controller (a branch office's RODC) shows at lockoutTime is one it
// has not yet heard the end of. It learns a lockout and its end only by replication, hours later
// between sites. So, once the PDC emulator answered (pdcLockoutTime, 0 when it holds none), its
// word wins over a lock it has seen too (it holds that lockoutTime or a later one); and so does
// this program's own unlock of that very lock at the writable controllers (clearedHere). A lock
// the PDC emulator has not heard of still counts: Samba's controllers, unlike Windows', do not
// forward a lockout to the PDC emulator at once.
bool staleLock(std::int64_t lockoutTime, std::optional<std::int64_t> pdcLockoutTime, bool clearedHere);

// The lockouts this process cleared at the writable controllers while a read-only controller
// showed them: the account's DN and the lockoutTime shown. Safe to use from several threads.
class ClearedLocks {
public:
    void add(const std::string& dn, std::int64_t lockoutTime);
    bool contains(const std::string& dn, std::int64_t lockoutTime) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::set<std::pair<std::string, std::int64_t>> m_locks;
};

// After an unlock written at written: lockoutTime cleared at each other writable controller that
// still holds a lockout, and read back there, so that none of them hands it on again. Throws
// directory::Error when one refuses the change or does not hold it.
void clearLockoutAt(const std::vector<std::shared_ptr<Connection>>& writable, const Connection& written,
                    const std::string& dn);

} // namespace ldapdir
