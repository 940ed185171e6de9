#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "directory/date_text.h"

namespace ldapdir {

// accountExpires: 100-ns intervals since 1601-01-01 UTC. Both 0 and this mean "never".
inline constexpr std::int64_t kNeverExpires = std::numeric_limits<std::int64_t>::max();

// userAccountControl and msDS-User-Account-Control-Computed bits.
inline constexpr std::uint32_t kAccountDisable = 0x2;
inline constexpr std::uint32_t kLockout = 0x10;
inline constexpr std::uint32_t kDontExpirePassword = 0x10000;

// What sAMAccountType says an account is. Filtering on it (indexed, one value) is much cheaper
// for the server than (&(objectCategory=person)(objectClass=user)), which selects the same users.
enum class AccountKind { User, Group, Other };
AccountKind accountKind(std::string_view samAccountType);

// userAccountControl or msDS-User-Account-Control-Computed as a server sends it: a 32-bit
// integer in decimal, signed or not. Nothing for any other text, so a damaged value is never
// read as some other set of flags.
std::optional<std::uint32_t> parseAccountControl(std::string_view text);
inline constexpr const char* kUserFilter = "(sAMAccountType=805306368)";
inline constexpr const char* kGroupFilter = "(objectClass=group)";

// The accountExpires value that keeps an account usable through the end of lastDay in the local
// time zone: the start of the next local day, in UTC. Throws directory::Error when the C library
// cannot place that day in time.
std::int64_t accountExpiresAfter(directory::CivilDate lastDay);

// The last local day on which an account with this accountExpires value is usable; nothing for never.
std::optional<directory::CivilDate> lastUsableDay(std::int64_t accountExpires);

// An assertion value for a search filter, escaped as LDAP filters require.
std::string escapeFilterValue(std::string_view value);
// Every byte escaped: binary values such as SIDs.
std::string escapeFilterBytes(std::string_view bytes);

// The binary SID of an account in the domain with the given binary SID: domain SID + relative id.
// Returns nothing when domainSid is not a well-formed SID.
std::optional<std::string> sidWithRid(std::string_view domainSid, std::uint32_t rid);

// The unicodePwd value: the password in double quotes, UTF-16LE. Written into out, which is
// sized once so no partial copy is left behind in freed memory. Throws directory::Error when the
// text is not valid UTF-8.
void encodePassword(std::string_view utf8, std::string& out);

} // namespace ldapdir
