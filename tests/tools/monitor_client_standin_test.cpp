// The stand-in library offers exactly what the binding looks up.
#include "diagnostics/monitor_client/api_tables.h"
#include "support/monitor_client_standin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace TestSupport;
using testing::ElementsAreArray;

// The names in a loaded module's export directory.
std::vector<std::string> exportedNames(HMODULE module)
{
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> exportsOf(const std::filesystem::path& directory)
{
    const System::Win32::UniqueModule module(::LoadLibraryW((directory / L"monitor_client_impl.dll").c_str()));
    EXPECT_TRUE(module.valid()) << directory;
    return module ? sorted(exportedNames(module.get())) : std::vector<std::string>();
}

TEST(MonitorClientStandin, ExportsTheBindingsTables)
{
    const std::vector<std::string> names = VESK::functionNames();
    ASSERT_EQ(names.size(), 13u + 136u);
    EXPECT_THAT(exportsOf(standinDirectory()), ElementsAreArray(sorted(names)));
    EXPECT_THAT(exportsOf(coreOnlyStandinDirectory()),
                ElementsAreArray(sorted(std::vector<std::string>(names.begin(), names.begin() + 13))));
}

} // namespace
