#include <fuzzer/FuzzedDataProvider.h>

#include <grp.h>
#include <pwd.h>
#include <shadow.h>

#include <cerrno>
#include <cstdio>

#include "directory/error.h"
#include "directory/unix/account_files.h"
#include "directory/unix/account_name.h"
#include "directory/unix/local_accounts.h"
#include "fuzz_check.h"
#include "memory_file.h"

using namespace unixacct;

namespace {

bool isCompat(const std::string& name) {
    return !name.empty() && (name[0] == '+' || name[0] == '-');
}

// The C library's own scan of a whole shadow file: the first entry with the name, NIS compat
// lines ("+", "+name", "-name") left out as the program leaves them out.
std::optional<ShadowEntry> scanShadow(const std::string& path, const std::string& name) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    FUZZ_CHECK(file);
    std::vector<char> buffer(1 << 16);
    spwd entry{};
    spwd* result = nullptr;
    std::optional<ShadowEntry> found;
    for (;;) {
        const int rc = fgetspent_r(file, &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || !result)
            break;
        if (name == result->sp_namp && !isCompat(name)) {
            found = ShadowEntry{result->sp_namp, result->sp_pwdp ? result->sp_pwdp : "", result->sp_lstchg,
                                result->sp_expire};
            break;
        }
    }
    std::fclose(file);
    return found;
}

bool same(const std::optional<PasswdEntry>& a, const std::optional<PasswdEntry>& b) {
    if (!a || !b)
        return a.has_value() == b.has_value();
    return a->name == b->name && a->uid == b->uid && a->gid == b->gid && a->gecos == b->gecos &&
           a->password == b->password;
}

bool same(const std::optional<ShadowEntry>& a, const std::optional<ShadowEntry>& b) {
    if (!a || !b)
        return a.has_value() == b.has_value();
    return a->name == b->name && a->password == b->password && a->lastChange == b->lastChange && a->expire == b->expire;
}

bool same(const std::optional<GroupEntry>& a, const std::optional<GroupEntry>& b) {
    if (!a || !b)
        return a.has_value() == b.has_value();
    return a->name == b->name && a->gid == b->gid && a->members == b->members;
}

} // namespace

// One text read as passwd, shadow and group at once, and a name to look up in it: the quick
// lookup by name must find exactly what a scan of the whole file finds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::string name = in.ConsumeRandomLengthString(16);
    const std::string text = in.ConsumeRemainingBytesAsString();
    if (!name.empty() && name.front() == '@') {
        // Look up the name some line of the file starts with, so matches are common.
        std::size_t line = static_cast<unsigned char>(name.size() > 1 ? name[1] : 0), at = 0;
        while (line-- > 0 && at != std::string::npos)
            at = text.find('\n', at + 1);
        at = at == std::string::npos || at == 0 ? 0 : at + 1;
        name = text.substr(at, text.find(':', at) == std::string::npos ? 0 : text.find(':', at) - at);
    }
    if (name.find('\0') != std::string::npos)
        return 0; // the program never looks up such a name: it fails the account-name check first

    const MemoryFile file(text);
    AccountSources sources;
    sources.passwdPath = sources.shadowPath = sources.groupPath = file.path();
    const LocalAccounts accounts(sources);

    std::optional<PasswdEntry> scannedUser;
    std::size_t users = 0;
    accounts.forEachUser([&](const PasswdEntry& e) {
        ++users;
        FUZZ_CHECK(!isCompat(e.name));
        if (!scannedUser && e.name == name)
            scannedUser = e;
        return true;
    });
    std::optional<GroupEntry> scannedGroup, byGid;
    const gid_t wanted = scannedUser ? scannedUser->gid : 0;
    accounts.forEachGroup([&](const GroupEntry& e) {
        FUZZ_CHECK(!isCompat(e.name));
        if (!scannedGroup && e.name == name)
            scannedGroup = e;
        if (!byGid && e.gid == wanted)
            byGid = e;
        return true;
    });
    FUZZ_CHECK(users <= text.size());

    FUZZ_CHECK(same(accounts.findUser(name), scannedUser));
    FUZZ_CHECK(same(accounts.findGroup(name), scannedGroup));
    FUZZ_CHECK(same(accounts.findGroup(wanted), byGid));
    FUZZ_CHECK(same(accounts.findShadow(name), scanShadow(file.path(), name)));

    // The writer addresses the one line the C library reads as that account, or refuses the file.
    try {
        const auto fields =
            isSafeAccountName(name) ? readEntry(AccountFile::Passwd, file.path(), name) : std::vector<std::string>{};
        FUZZ_CHECK(!isSafeAccountName(name) || fields.empty() != scannedUser.has_value());
        FUZZ_CHECK(fields.empty() || ("\n" + text + "\n").find("\n" + joinFields(fields) + "\n") != std::string::npos);
    } catch (const directory::Error&) {
    }
    FUZZ_CHECK(joinFields(splitFields(text)) == text);
    return 0;
}
