#include "kerberos_ticket.h"

#include <krb5.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "directory/error.h"

namespace ldapdir {

namespace {

[[noreturn]] void missing() {
    throw directory::Error(directory::codes::kLogonFailure,
                           "Kerberos のチケットがないか、期限が切れています。kinit を実行してください。");
}

struct ContextFree {
    void operator()(krb5_context context) const noexcept { krb5_free_context(context); }
};
using Context = std::unique_ptr<std::remove_pointer_t<krb5_context>, ContextFree>;

// The pieces below need the context to release them, so they live in one scope object.
class CacheReader {
public:
    explicit CacheReader(krb5_context context) : m_context(context) {}
    ~CacheReader() {
        if (m_cursorOpen)
            krb5_cc_end_seq_get(m_context, m_cache, &m_cursor);
        if (m_name)
            krb5_free_unparsed_name(m_context, m_name);
        if (m_principal)
            krb5_free_principal(m_context, m_principal);
        if (m_cache)
            krb5_cc_close(m_context, m_cache);
    }
    CacheReader(const CacheReader&) = delete;
    CacheReader& operator=(const CacheReader&) = delete;

    // The end time of the ticket-granting ticket for the client's own realm, 0 when there is none.
    krb5_timestamp read(std::string& principal, std::string& realm) {
        if (krb5_cc_default(m_context, &m_cache) != 0)
            return 0;
        if (krb5_cc_get_principal(m_context, m_cache, &m_principal) != 0)
            return 0;
        if (krb5_unparse_name(m_context, m_principal, &m_name) != 0)
            return 0;
        principal = m_name;
        realm.assign(m_principal->realm.data, m_principal->realm.length);

        if (krb5_cc_start_seq_get(m_context, m_cache, &m_cursor) != 0)
            return 0;
        m_cursorOpen = true;
        krb5_timestamp end = 0;
        krb5_creds creds;
        while (krb5_cc_next_cred(m_context, m_cache, &m_cursor, &creds) == 0) {
            const krb5_principal server = creds.server;
            const bool tgt = server && server->length == 2 &&
                             std::string_view(server->data[0].data, server->data[0].length) == "krbtgt" &&
                             std::string_view(server->data[1].data, server->data[1].length) == realm;
            if (tgt && creds.times.endtime > end)
                end = creds.times.endtime;
            krb5_free_cred_contents(m_context, &creds);
        }
        return end;
    }

private:
    krb5_context m_context;
    krb5_ccache m_cache = nullptr;
    krb5_principal m_principal = nullptr;
    char* m_name = nullptr;
    krb5_cc_cursor m_cursor = nullptr;
    bool m_cursorOpen = false;
};

// Identifies the contents of a file credential cache: kinit and kdestroy change one of these.
struct FileState {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
};

// The state of a FILE: cache, or nothing for other cache types, which are always read.
std::optional<FileState> fileOf(std::string_view name) {
    if (name.substr(0, 5) == "FILE:")
        name.remove_prefix(5);
    else if (name.find(':') != std::string_view::npos)
        return std::nullopt;
    FileState state;
    state.path.assign(name);
    struct stat info {};
    if (stat(state.path.c_str(), &info) != 0)
        return std::nullopt;
    state.device = info.st_dev;
    state.inode = info.st_ino;
    state.size = info.st_size;
    state.modified = info.st_mtim;
    return state;
}

struct Snapshot {
    std::optional<FileState> file;
    std::string principal;
    std::string realm;
    krb5_timestamp end = 0;

    bool sameFile(const Snapshot& other) const {
        return file && other.file && file->path == other.file->path && file->device == other.file->device &&
               file->inode == other.file->inode && file->size == other.file->size &&
               file->modified.tv_sec == other.file->modified.tv_sec &&
               file->modified.tv_nsec == other.file->modified.tv_nsec;
    }
};

} // namespace

KerberosTicket KerberosTicket::current(std::chrono::seconds minimumLife) {
    // Reading the configuration costs more than reading the ticket, so one context serves every
    // check; a file cache that has not changed since the last check is not parsed again.
    static std::mutex mutex;
    static Context context;
    static Snapshot remembered;
    Snapshot now;
    {
        const std::lock_guard lock(mutex);
        if (!context) {
            krb5_context raw = nullptr;
            if (krb5_init_context(&raw) != 0)
                missing();
            context.reset(raw);
        }
        // Forget the name the context chose last time: KRB5CCNAME may point elsewhere now.
        krb5_cc_set_default_name(context.get(), nullptr);
        const char* name = krb5_cc_default_name(context.get());
        now.file = fileOf(name ? name : "");
        if (remembered.sameFile(now)) {
            now = remembered;
        } else {
            CacheReader reader(context.get());
            now.end = reader.read(now.principal, now.realm);
            remembered = now;
        }
    }
    // krb5_timestamp is a 32-bit value that wraps in 2038; compare as unsigned like the library does.
    const auto endTime = static_cast<std::int64_t>(static_cast<std::uint32_t>(now.end));
    const auto current = static_cast<std::int64_t>(std::time(nullptr));
    if (now.end == 0 || endTime - current < minimumLife.count())
        missing();
    return KerberosTicket(std::move(now.principal), std::move(now.realm));
}

} // namespace ldapdir
