#include "platform_service.h"

#include "routing_service.h"

#if HAVE_QUILL_UNIX
#include "directory/unix/unix_service.h"
#endif
#if HAVE_QUILL_LDAP
#include "directory/ldap/ldap_service.h"
#endif
#if HAVE_QUILL_SAMR
#include "directory/samr/samr_service.h"
#endif
#if HAVE_QUILL_SYSTEM
#include "system/linux/this_computer.h"
#endif

namespace directory {

namespace {

// Owns the backends the router points at.
class LinuxDirectory final : public Service {
public:
    LinuxDirectory() {
        RoutingService::LocalTest isThisComputer;
#if HAVE_QUILL_SYSTEM
        isThisComputer = [](std::string_view host) { return sysinfo::namesThisComputer(host); };
#endif
#if HAVE_QUILL_UNIX
        m_local = std::make_unique<unixacct::UnixService>(unixacct::AccountSources{}, nullptr, isThisComputer);
#endif
#if HAVE_QUILL_LDAP
        m_domain = std::make_unique<ldapdir::LdapService>();
#endif
#if HAVE_QUILL_SAMR
        m_computer = std::make_unique<samrdir::SamrService>();
#endif
        m_router = std::make_unique<RoutingService>(isThisComputer, m_local.get(), m_domain.get(), m_computer.get());
    }

    std::unique_ptr<Object> bind(std::string_view path) override {
        return m_router->bind(path);
    }

private:
    std::unique_ptr<Service> m_local;
    std::unique_ptr<Service> m_domain;
    std::unique_ptr<Service> m_computer;
    std::unique_ptr<RoutingService> m_router;
};

} // namespace

std::unique_ptr<Service> makePlatformService() {
    return std::make_unique<LinuxDirectory>();
}

} // namespace directory
