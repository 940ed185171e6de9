#include "long_search.h"

#include <ldap.h>

#include "ldap_failure.h"

namespace ldapdir {

namespace {

// The ways a server says it will not send the whole answer of an unpaged search.
bool limitsUnpagedAnswers(int resultCode) {
    return resultCode == LDAP_SIZELIMIT_EXCEEDED || resultCode == LDAP_ADMINLIMIT_EXCEEDED ||
           resultCode == LDAP_TIMELIMIT_EXCEEDED || resultCode == LDAP_UNWILLING_TO_PERFORM;
}

} // namespace

void searchAll(Connection& connection, const std::string& base, int scope, const std::string& filter,
               const std::vector<std::string>& attributes, const Connection::EntryVisitor& visit, int pageSize) {
    if (!connection.pagesLongSearches()) {
        std::vector<Entry> held;
        bool complete = false;
        try {
            connection.search(base, scope, filter, attributes, [&](Entry& entry) { held.push_back(std::move(entry)); });
            complete = true;
        } catch (const LdapFailure& failure) {
            if (!limitsUnpagedAnswers(failure.resultCode()))
                throw;
        }
        if (complete) {
            for (auto& entry : held)
                visit(entry);
            return;
        }
        held.clear();
        held.shrink_to_fit();
        connection.setPagesLongSearches();
    }
    connection.search(base, scope, filter, attributes, visit, pageSize);
}

} // namespace ldapdir
