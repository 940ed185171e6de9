#pragma once

#include <gtest/gtest.h>

#include "directory/adsi_control.h"
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
