#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/win32/resource.h"

namespace {

// The program file as built, named by the build (QUILL_EXE_PATH).
const wchar_t* const kProgram = QUILL_EXE_PATH;

class ProgramFile : public testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(kProgram, &ignored);
        ASSERT_GT(size, 0u) << "no version record in the program file";
        m_block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(kProgram, 0, size, m_block.data()));
    }
    std::wstring string(const wchar_t* path) {
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(m_block.data(), path, reinterpret_cast<void**>(&value), &length) || !value)
            return L"(missing)";
        return std::wstring(value, length > 0 ? length - 1 : 0);
    }
    std::vector<unsigned char> m_block;
};

TEST_F(ProgramFile, VersionRecordIsOneZeroZeroZeroInJapanese) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(m_block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(m_block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(string(L"\\StringFileInfo\\041104B0\\ProductName"), L"Quillmarsh");
    EXPECT_EQ(string(L"\\StringFileInfo\\041104B0\\FileVersion"), L"1.0.0.0");
    EXPECT_EQ(string(L"\\StringFileInfo\\041104B0\\ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(string(L"\\StringFileInfo\\041104B0\\FileDescription"), L"ADユーザーの利用状態を簡単に設定します。");
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

TEST_F(ProgramFile, IconHasTheSevenImagesAndAManifestIsEmbedded) {
    HMODULE file = LoadLibraryExW(kProgram, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(file);
    HRSRC group = FindResourceW(file, MAKEINTRESOURCEW(IDI_QUILLMARSH), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_TRUE(group);
    const auto* header = static_cast<const GroupIconHeader*>(LockResource(LoadResource(file, group)));
    ASSERT_TRUE(header);
    ASSERT_EQ(header->count, 7);
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 1);
    std::vector<std::pair<int, int>> images;
    for (int i = 0; i < header->count; ++i)
        images.emplace_back(entries[i].width, entries[i].bitCount);
    EXPECT_EQ(images,
              (std::vector<std::pair<int, int>>{{64, 24}, {64, 8}, {32, 24}, {32, 8}, {16, 24}, {16, 8}, {16, 4}}));
    EXPECT_TRUE(FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))); // RT_MANIFEST
    FreeLibrary(file);
}

} // namespace
