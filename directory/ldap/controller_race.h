#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "address_book.h"

namespace ldapdir {

// What asking several controllers at once found.
struct RaceOutcome {
    std::optional<std::size_t> winner; // the first candidate that answered
    bool timedOut = false;             // the limit ran out while a candidate was still silent
    // Per candidate: asked, and none of its addresses took a connection (refused, unreachable, or
    // silent until the race ended without a winner).
    std::vector<bool> unreachable;
};

// Which candidate (the addresses of one controller) answers LDAP first: each is asked for its root
// DSE, anonymously, over a connection of its own, since a stopped controller may still accept
// connections. The next candidate is asked stagger after the one before, or at once when that one
// failed, so that a healthy first candidate is usually the only one asked; all of it within limit.
RaceOutcome firstToAnswer(const std::vector<std::vector<Address>>& candidates, std::chrono::milliseconds limit,
                          std::chrono::milliseconds stagger);

} // namespace ldapdir
