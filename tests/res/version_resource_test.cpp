// The version information of norva1-update.exe, as Explorer's Properties, the
// elevation prompt and inventory tools read it: the project's version, and the
// names in Simplified Chinese under the translation the file declares.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#define NORVA_WIDE(text) L"" text

namespace {
class VersionResource : public testing::Test {
protected:
    void SetUp() override {
        std::wstring path = L"Z:";
        for (const char* c = NORVA_PROGRAM_PATH; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version information; error " << GetLastError();
        info_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info_.data()));
    }

    // The value at `query`, or nullptr; `length` its length as VerQueryValueW counts it.
    const void* Value(const std::wstring& query, UINT& length) {
        void* value = nullptr;
        return VerQueryValueW(info_.data(), query.c_str(), &value, &length) ? value : nullptr;
    }

    std::vector<unsigned char> info_;
};

TEST_F(VersionResource, FileAndProductVersionAreTheProjectVersion) {
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Value(L"\\", length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const DWORD high = MAKELONG(NORVA_VERSION_MINOR, NORVA_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, NORVA_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
}

TEST_F(VersionResource, NamesAreSimplifiedChineseUnicodeUnderTheDeclaredTranslation) {
    UINT length = 0;
    const auto* translation = static_cast<const WORD*>(Value(L"\\VarFileInfo\\Translation", length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 2 * sizeof(WORD)) << "one language";
    EXPECT_EQ(translation[0], MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    EXPECT_EQ(translation[1], 1200) << "UTF-16";

    // The strings are looked up where the translation points, as Explorer does.
    wchar_t block[64];
    std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    const auto text = [&](const wchar_t* name) {
        UINT characters = 0;
        const auto* value = static_cast<const wchar_t*>(Value(block + std::wstring(name), characters));
        return value ? std::wstring(value, wcsnlen(value, characters)) : L"<none>";
    };
    EXPECT_EQ(text(L"ProductName"), L"NORVA 固件更新中心");
    EXPECT_EQ(text(L"FileDescription"), L"NORVA 固件更新中心");
    EXPECT_EQ(text(L"CompanyName"), L"NORVA");
    EXPECT_EQ(text(L"LegalCopyright"), L"Copyright © NORVA");
    EXPECT_EQ(text(L"OriginalFilename"), L"norva1-update.exe");
    EXPECT_EQ(text(L"InternalName"), L"norva1-update.exe");
    EXPECT_EQ(text(L"FileVersion"), NORVA_WIDE(NORVA_PROJECT_VERSION));
    EXPECT_EQ(text(L"ProductVersion"), NORVA_WIDE(NORVA_PROJECT_VERSION));
}
}  // namespace
