#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "system/win32/win32_text.h"

namespace {

using quill::win32::systemMessage;

// Wine has no netmsg.dll: what it says for a NetAPI error is the fallback. With a stand-in where
// Windows keeps the real one, NetAPI errors, and only they, take their texts from it.
TEST(SystemMessage, NetApiErrorsAreDescribedFromNetmsg) {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    const std::wstring netmsg = std::wstring(folder) + L"\\netmsg.dll";
    if (GetFileAttributesW(netmsg.c_str()) != INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system has its own netmsg.dll";
    const std::string fallback = systemMessage(static_cast<long>(0x800708ADL));
    EXPECT_FALSE(fallback.empty());

    ASSERT_TRUE(CopyFileW(QUILL_TEST_NETMSG, netmsg.c_str(), TRUE));
    const std::pair<unsigned long, const char*> rows[] = {
        {0x800708ADul, "fake 2221"},          {0x80070834ul, "fake 2100"},
        {0x80070BB7ul, "fake 2999"},          {2221ul, "fake 2221"},
        {0x80070833ul, "HRESULT 0x80070833"},  // 2099, below the range
        {0x800408ADul, "HRESULT 0x800408AD"},  // not the Win32 facility
        {0x800709C4ul, "HRESULT 0x800709C4"}}; // 2500, which neither netmsg.dll nor the system describes
    for (const auto& [hresult, text] : rows)
        EXPECT_EQ(systemMessage(static_cast<long>(hresult)), text) << std::hex << hresult;
    DeleteFileW(netmsg.c_str());
    EXPECT_EQ(systemMessage(static_cast<long>(0x800708ADL)), fallback);
}

} // namespace
