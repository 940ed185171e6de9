#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "app/lock_opener.h"
#include "fake_directory.h"
#include "system/win32/wmi_computer_system_query.h"
#include "system/win32/win32_text.h"
#include "test_support.h"

namespace {

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    EXPECT_TRUE(GetComputerNameW(name, &size));
    return quill::win32::toUtf8(name);
}

TEST(Wmi, ReportsThisComputersDomainAndName) {
    sysinfo::WmiComputerSystemQuery query;
    const auto systems = query.query();
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_EQ(_stricmp(systems[0].Name.c_str(), computerName().c_str()), 0) << systems[0].Name;
    EXPECT_FALSE(systems[0].Domain.empty());
    if (underWine()) {
        EXPECT_EQ(systems[0].Domain, "WORKGROUP");
        EXPECT_FALSE(systems[0].PartOfDomain); // DomainRole 0, a standalone workstation
    }
}

TEST(Wmi, GetCurrentDomainAppliesTheWorkgroupRuleToTheRealAnswer) {
    sysinfo::WmiComputerSystemQuery query;
    const auto systems = query.query();
    ASSERT_FALSE(systems.empty());
    fakes::FakeDirectory directory;
    fakes::ScriptedOperator person;
    fakes::FixedClock clock;
    app::Form form;
    const std::string commandLine;
    app::LockOpener window(form, app::Environment{directory, query, person, clock}, commandLine);

    EXPECT_EQ(window.GetCurrentDomain(false), systems[0].Domain);
    if (systems[0].Domain == "WORKGROUP") {
        EXPECT_EQ(window.GetCurrentDomain(true), systems[0].Name + ".");
    } else {
        EXPECT_EQ(window.GetCurrentDomain(true), systems[0].Domain);
    }
}

TEST(Wmi, WithoutComTheQueryFailsWithTheHresult) {
    long number = 0;
    std::string description;
    std::thread([&] {
        try {
            sysinfo::WmiComputerSystemQuery().query();
        } catch (const quill::RuntimeError& e) {
            number = e.number();
            description = e.description();
        }
    }).join();
    EXPECT_EQ(number, static_cast<long>(CO_E_NOTINITIALIZED));
    EXPECT_EQ(description.rfind("WMI locator: ", 0), 0u) << description;
}

} // namespace
