// Writes: one modify request, never replayed on a guess, and what the server holds after it.
#include "connection.h"

#include <thread>

#include "directory/error.h"
#include "directory/sigpipe_guard.h"
#include "ldap_call.h"
#include "ldap_failure.h"

namespace ldapdir {

using Clock = std::chrono::steady_clock;

void Connection::modify(const std::string& dn, const std::vector<Modification>& changes, const HoldsCheck& holds) {
    const directory::SigpipeGuard quiet;
    // The request points into the changes themselves, so no copy of a password is made here.
    std::vector<std::vector<berval>> values(changes.size());
    std::vector<std::vector<berval*>> valuePointers(changes.size());
    std::vector<LDAPMod> mods(changes.size());
    std::vector<LDAPMod*> list;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Modification& change = changes[i];
        for (const auto& value : change.values)
            values[i].push_back(berval{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())});
        for (auto& value : values[i])
            valuePointers[i].push_back(&value);
        valuePointers[i].push_back(nullptr);
        mods[i].mod_op = change.operation | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char*>(change.attribute.c_str());
        mods[i].mod_bvalues = valuePointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);

    if (sendModify(dn, list.data()) == LDAP_SUCCESS) {
        Held held = Held::Yes;
        try {
            held = holds(true);
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            // Nothing more to learn now: the server's own answer stands.
        }
        if (held != Held::Yes)
            throw directory::Error(directory::codes::kFail,
                                   "ドメインコントローラーは変更を受け付けましたが、反映されていません。");
        return;
    }
    // Some of the request left and its answer did not come: the server may have applied it, or
    // may still do so. Sending it again could fail on the change itself or undo someone else's,
    // so only what the server now holds decides.
    if (settle(holds) != Held::Yes)
        throw directory::Error(directory::codes::kTimeout, unconfirmed());
}

int Connection::sendModify(const std::string& dn, LDAPMod** mods) {
    for (int attempt = 0;; ++attempt) {
        bool fresh = true;
        LdapHandle ld;
        try {
            ld = handle(fresh);
        } catch (const LdapFailure& failure) {
            if (isConnectionTrouble(failure.resultCode()))
                noteFailure(false);
            throw;
        }
        int msgid = -1;
        const std::uint64_t writtenBefore = m_written;
        const int rc = ldap_modify_ext(ld.get(), dn.c_str(), mods, nullptr, nullptr, &msgid);
        if (rc != LDAP_SUCCESS) {
            if (!isConnectionTrouble(rc))
                throw LdapFailure(rc, m_host, diagnostic(ld.get()));
            drop(ld);
            if (m_written != writtenBefore) {
                noteFailure(false);
                return rc; // part of it may have reached the server
            }
            // None of it left, so a session that had dropped unnoticed is reopened once.
            if (fresh || attempt > 0) {
                noteFailure(false);
                throw LdapFailure(rc, m_host, "");
            }
            continue;
        }
        try {
            awaitSuccess(ld.get(), msgid, m_timeouts.write);
            m_failedAt.reset();
            return LDAP_SUCCESS;
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
            drop(ld);
            noteFailure(false);
            return failure.resultCode();
        }
    }
}

std::string Connection::unconfirmed() const {
    return "ドメインコントローラー " + m_host + " の応答が途絶えたため、変更が反映されたか確認できません。";
}

Held Connection::settle(const HoldsCheck& holds) {
    const auto deadline = Clock::now() + m_timeouts.write;
    for (;;) {
        try {
            return holds(false);
        } catch (const LdapFailure& failure) {
            if (!isConnectionTrouble(failure.resultCode()))
                throw;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            throw directory::Error(directory::codes::kTimeout, unconfirmed());
        std::this_thread::sleep_for(std::min<Clock::duration>(m_timeouts.retry, deadline - now));
    }
}

} // namespace ldapdir
