// The manifest embedded in ombrix.exe, byte for byte, in both builds: the
// 32-bit product cannot run here, but its resources can be read as data.
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

std::string manifestResource(const std::filesystem::path& exe)
{
    const System::Win32::UniqueModule image(
        ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!image)
        return "cannot load " + exe.string();
    const HRSRC resource = ::FindResourceExW(image.get(), MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1),
                                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (resource == nullptr)
        return "no RT_MANIFEST 1 in language 1033";
    const void* bytes = ::LockResource(::LoadResource(image.get(), resource));
    return std::string(static_cast<const char*>(bytes), ::SizeofResource(image.get(), resource));
}

class ManifestResource : public testing::TestWithParam<const wchar_t*> {};

TEST_P(ManifestResource, IsTheManifestFile)
{
    const auto exe = TestSupport::binDirectory() / GetParam();
    ASSERT_TRUE(std::filesystem::exists(exe)) << exe;
    EXPECT_EQ(manifestResource(exe), TestSupport::readFile(OMBRIX_SOURCE_DIR "/ombrix/com/ombrix.manifest"));
}

INSTANTIATE_TEST_SUITE_P(Builds, ManifestResource,
                         testing::Values(L"ombrix.exe", L"../../i686/bin/ombrix.exe"));

} // namespace
