#include "ldap_service.h"

#include <ldap.h>
#include <strings.h>

#include <optional>

#include "ad_values.h"
#include "bound_entry.h"
#include "connection_cache.h"
#include "directory/object_path.h"
#include "kerberos_ticket.h"
#include "ldap_container.h"
#include "ldap_group.h"
#include "ldap_user.h"
#include "read_only_controller.h"

namespace ldapdir {

namespace {

bool is(std::string_view text, std::string_view name) {
    return text.size() == name.size() && strncasecmp(text.data(), name.data(), name.size()) == 0;
}

// What the path's class asks for.
enum class Wanted { Any, User, Group };

} // namespace

LdapService::LdapService() : m_cache(ConnectionCache::shared()) {}

std::unique_ptr<directory::Object> LdapService::bind(std::string_view path) {
    const auto maybe = directory::parsePath(path);
    if (!maybe)
        throw directory::Error(directory::codes::kBadPathName, "パス " + std::string(path) + " は正しくありません。");
    const directory::ObjectPath& parsed = *maybe;
    if (parsed.computer)
        throw directory::Error(directory::codes::kBadPathName,
                               "コンピューター単位のアカウントは LDAP では扱えません: " + std::string(path));

    const KerberosTicket ticket = KerberosTicket::current();
    const auto lookupEnds = std::chrono::steady_clock::now() + m_cache.timeouts().read;
    const auto connection = m_cache.forTarget(parsed.target, ticket);
    LdapGroup::MemberResolver resolver = [this](const std::string& memberPath) { return memberDn(memberPath); };

    if (parsed.isContainer()) {
        if (!parsed.className.empty() && !is(parsed.className, "Domain"))
            throw directory::Error(directory::codes::kUnknownObject,
                                   parsed.target + " という " + parsed.className + " はありません。");
        return std::make_unique<LdapContainer>(connection, std::move(resolver));
    }

    Wanted wanted = Wanted::Any;
    if (is(parsed.className, "User"))
        wanted = Wanted::User;
    else if (is(parsed.className, "Group"))
        wanted = Wanted::Group;
    else if (!parsed.className.empty())
        throw directory::Error(directory::codes::kUnknownObject,
                               "クラス " + parsed.className + " のオブジェクトは扱えません: " + std::string(path));

    // sAMAccountName is unique in the domain and indexed; the kind is told from sAMAccountType.
    std::vector<std::string> attributes = LdapUser::attributes();
    attributes.push_back("sAMAccountType");
    const std::string filter = "(sAMAccountName=" + escapeFilterValue(*parsed.name) + ")";
    const std::string& base = connection->domain().defaultNamingContext;
    // A lockout may be known only to the PDC emulator yet: ask it at the same time. It adds no
    // wait of its own: a PDC emulator that fails is left out until its failure is forgotten, and
    // one that is silent is waited for no longer than the lookup's one read limit.
    const auto pdc = m_cache.pdcEmulator(*connection, ticket, lookupEnds);
    std::optional<Connection::Pending> atPdc;
    if (pdc && wanted != Wanted::Group) {
        try {
            // Only an account with a lockout time can be locked out: the others cost the PDC
            // emulator no computed attribute and send back no entry.
            atPdc.emplace(pdc->send(base, LDAP_SCOPE_SUBTREE, "(&" + filter + "(lockoutTime>=1))",
                                    {"msDS-User-Account-Control-Computed", "lockoutTime"}));
        } catch (const directory::Error&) {
        }
    }
    auto entry = connection->findOne(base, LDAP_SCOPE_SUBTREE, filter, attributes);
    bool lockedAtPdc = false;
    std::optional<std::int64_t> pdcLockoutTime; // answered: what a read-only controller's lock is weighed against
    if (atPdc) {
        try {
            const auto there = atPdc->first(lookupEnds);
            const auto text = there ? there->first("msDS-User-Account-Control-Computed") : std::nullopt;
            const auto bits = text ? parseAccountControl(*text) : std::nullopt;
            lockedAtPdc = bits && (*bits & kLockout) != 0;
            pdcLockoutTime = there ? lockoutTimeOf(*there) : 0;
        } catch (const directory::Error&) {
            // the controller in use answers alone
        }
    }
    const AccountKind found = entry ? accountKind(entry->first("sAMAccountType").value_or("")) : AccountKind::Other;
    if (found == AccountKind::User && wanted != Wanted::Group) {
        auto user = std::make_unique<LdapUser>(connection, std::move(*entry), true, std::move(resolver));
        user->setPdcEmulator(pdc);
        user->setLockedAtPdc(lockedAtPdc);
        user->setPdcLockoutTime(pdcLockoutTime);
        user->setControllers(m_cache, ticket);
        return user;
    }
    if (found == AccountKind::Group && wanted != Wanted::User) {
        auto group = std::make_unique<LdapGroup>(connection, std::move(*entry), std::move(resolver));
        group->setPdcEmulator(pdc);
        group->setControllers(m_cache, ticket);
        return group;
    }
    if (wanted == Wanted::Group)
        throw directory::Error(directory::codes::kNoSuchGroup,
                               "グループ " + *parsed.name + " は " + parsed.target + " にありません。");
    throw directory::Error(directory::codes::kNoSuchUser,
                           "ユーザー " + *parsed.name + " は " + parsed.target + " にありません。");
}

std::string LdapService::memberDn(const std::string& path) {
    const auto object = bind(path);
    const auto* bound = dynamic_cast<const BoundEntry*>(object.get());
    if (!bound)
        throw directory::Error(directory::codes::kBadPathName, path + " はユーザーでもグループでもありません。");
    return bound->distinguishedName();
}

} // namespace ldapdir
