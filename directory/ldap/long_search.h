#pragma once

#include <string>
#include <vector>

#include "connection.h"

namespace ldapdir {

// Entries per page when a long search has to be paged; Windows' default MaxPageSize.
inline constexpr int kLongSearchPageSize = 1000;

// A search whose answer may be long: every account of a domain, the groups that list a user.
// Calls visit for each entry in the server's order, every entry exactly once, and only once the
// whole answer is known to be complete: a list cut short is never handed out.
//
// The search goes unpaged first, because paging is slow on Samba (about a second per 10,000
// entries). When the server limits the unpaged answer (sizeLimitExceeded, as Windows DCs do past
// MaxPageSize, or adminLimitExceeded, timeLimitExceeded, unwillingToPerform), what arrived is
// dropped, the search runs again paged, and the connection remembers to page from then on.
// visit may take the entry's contents. Throws directory::Error as Connection::search does.
void searchAll(Connection& connection, const std::string& base, int scope, const std::string& filter,
               const std::vector<std::string>& attributes, const Connection::EntryVisitor& visit,
               int pageSize = kLongSearchPageSize);

} // namespace ldapdir
