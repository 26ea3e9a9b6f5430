// The version resource of what ships, in both builds: file and product
// version, product name and description, as a launcher team reads them.
#include "err/utf.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Shipped {
    const wchar_t* file; // below the test's folder
    const wchar_t* description;
};

// One string of the version resource's English (Unicode) table; empty when absent.
std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name)
{
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!::VerQueryValueW(info.data(), path.c_str(), &value, &length) || value == nullptr)
        return {};
    return static_cast<const wchar_t*>(value);
}

class VersionResource : public testing::TestWithParam<Shipped> {};

TEST_P(VersionResource, CarriesTheProjectVersion)
{
    const auto file = TestSupport::binDirectory() / GetParam().file;
    DWORD ignored = 0;
    std::vector<BYTE> info(::GetFileVersionInfoSizeW(file.c_str(), &ignored));
    ASSERT_FALSE(info.empty()) << file;
    ASSERT_TRUE(::GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    void* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &fixed, &length));
    const auto& numbers = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    const std::wstring version = Err::fromUtf8(OMBRIX_VERSION);
    EXPECT_EQ(std::to_wstring(HIWORD(numbers.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(numbers.dwFileVersionMS)) +
                  L"." + std::to_wstring(HIWORD(numbers.dwFileVersionLS)),
              version);
    EXPECT_EQ(numbers.dwProductVersionMS, numbers.dwFileVersionMS);
    EXPECT_EQ(versionString(info, L"FileVersion"), version);
    EXPECT_EQ(versionString(info, L"ProductVersion"), version);
    EXPECT_EQ(versionString(info, L"ProductName"), L"ombrix");
    EXPECT_EQ(versionString(info, L"FileDescription"), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, VersionResource,
                         testing::Values(Shipped{L"ombrix.exe", L"ombrix plug-in host"},
                                         Shipped{L"ombrixPS.dll", L"ombrix interface proxies and stubs"},
                                         Shipped{L"../../i686/bin/ombrix.exe", L"ombrix plug-in host"},
                                         Shipped{L"../../i686/bin/ombrixPS.dll", L"ombrix interface proxies and stubs"}));

} // namespace
