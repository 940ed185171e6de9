#pragma once

#include <gtest/gtest.h>

#include <tuple>

#include "app/lock_opener.h"
#include "directory/adsi_control.h"
#include "directory/ldap/connection_cache.h"
#include "directory/ldap/ldap_service.h"
#include "samba_dc.h"
#include "test_support.h"

// The domain the suite's controller serves, by its NetBIOS name.
inline constexpr const char* kDomain = "QUILL";

// A test against the real domain controller, with the administrator's ticket unless it switches.
class AdTest : public testing::Test {
protected:
    void SetUp() override {
        if (!dc.available())
            GTEST_SKIP() << "needs the domain controller of tests/run-ad.sh";
    }

    directory::ADSIControl control(const std::string& target = kDomain) {
        directory::ADSIControl adsi(service, op);
        adsi.setTargetDomainServer(target);
        return adsi;
    }

    SambaDc dc;
    ldapdir::LdapService service;
    fakes::ScriptedOperator op;
};

// The real window on an LDAP backend and connection cache of its own, loaded with jdoe in the
// computer's domain quill.test.
struct LdapWindow {
    LdapWindow(quill::Operator& op, ldapdir::Timeouts timeouts = {})
        : cache(timeouts), window(form, app::Environment{service, computer, op, clock}, commandLine) {
        computer.systems = {{"quill.test", "VM"}};
    }
    // Form_Load, then target typed into the target box unless it is empty.
    bool load(const std::string& target = {}) {
        return window.dispatch("LockOpener", app::Event::Load) &&
               (target.empty() || window.textEdited("trgSrv", target));
    }

    ldapdir::ConnectionCache cache;
    ldapdir::LdapService service{cache};
    fakes::FakeComputerSystem computer;
    fakes::FixedClock clock;
    app::Form form;
    const std::string commandLine = "jdoe";
    app::LockOpener window;
};
