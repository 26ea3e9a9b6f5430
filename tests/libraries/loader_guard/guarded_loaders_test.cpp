// The replacement loader functions called directly (no hook placed): what they
// refuse, what they answer themselves and what they pass to the system.
#include "loader_guard/guarded_loaders.h"
#include "loader_guard/structured_exception.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// One call through each of the four replacements.
struct EntryPoint {
    const char* name;
    HMODULE (*load)(const std::wstring& path, DWORD flags);
};

const EntryPoint kEntryPoints[] = {
    {"LoadLibraryW", [](const std::wstring& p, DWORD) { return guardedLoadLibraryW(p.c_str()); }},
    {"LoadLibraryA", [](const std::wstring& p, DWORD) { return guardedLoadLibraryA(narrow(p).c_str()); }},
    {"LoadLibraryExW", [](const std::wstring& p, DWORD f) { return guardedLoadLibraryExW(p.c_str(), nullptr, f); }},
    {"LoadLibraryExA", [](const std::wstring& p, DWORD f) { return guardedLoadLibraryExA(narrow(p).c_str(), nullptr, f); }},
};

class GuardedLoaders : public testing::TestWithParam<EntryPoint> {
protected:
    static void SetUpTestSuite()
    {
        LoaderGuard::systemLoadLibraryW = &::LoadLibraryW;
        LoaderGuard::systemLoadLibraryA = &::LoadLibraryA;
        LoaderGuard::systemLoadLibraryExW = &::LoadLibraryExW;
        LoaderGuard::systemLoadLibraryExA = &::LoadLibraryExA;
    }

    // Our test DLL, copied under `name` into the test folder.
    std::wstring library(const std::wstring& name)
    {
        const auto target = dir_ / name;
        std::filesystem::copy_file(binDirectory() / L"test_library.dll", target,
                                   std::filesystem::copy_options::overwrite_existing);
        return target.wstring();
    }

    HMODULE load(const std::wstring& path, DWORD flags = 0) { return GetParam().load(path, flags); }

    void expectRefused(const std::wstring& path, DWORD flags = 0)
    {
        ::SetLastError(0);
        const HMODULE module = load(path, flags);
        EXPECT_EQ(module, nullptr) << narrow(path);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << narrow(path);
        if (module)
            ::FreeLibrary(module);
    }

    void expectLoaded(const std::wstring& path)
    {
        const HMODULE module = load(path);
        EXPECT_NE(module, nullptr) << narrow(path) << " error " << ::GetLastError();
        if (module)
            ::FreeLibrary(module);
    }

    TempDir dir_;
};

TEST_P(GuardedLoaders, RefusesBlockedNamesWhateverTheirCaseAndFolder)
{
    const std::wstring blocked = library(L"RTSSHooks.dll");
    expectRefused(blocked);
    expectRefused(L"rtsshooks.dll");
    expectRefused(dir_.path().wstring() + L"\\RTSSHOOKS.DLL");
    expectRefused(library(L"ltc_game32-1.0.dll"));
    expectRefused(L"ltc_game32-.dll");
    expectRefused(L"\\fraps.dll");
    expectRefused(L"C:/Program Files/X/graphics-hook32.dll");
}

TEST_P(GuardedLoaders, LoadsNamesThatOnlyLookAlike)
{
    library(L"RTSSHooks.dll");
    // Without an extension the system appends ".dll" itself: the name as given is not blocked.
    expectLoaded((dir_ / L"RTSSHooks").wstring());
    expectLoaded(library(L"RTSSHooks.dll.bak"));
    expectLoaded(library(L"ltc_game32.dll"));
    expectLoaded(library(L"fraps.dll2"));
}

TEST_P(GuardedLoaders, SystemModuleNamesAnswerTheLoadedModule)
{
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    EXPECT_EQ(load(L"D:\\other\\KERNEL32.DLL"), kernel32);
    EXPECT_EQ(load(L"kernel32.dll"), kernel32);
    EXPECT_EQ(load(L"C:\\x\\NtDll.dll"), ntdll);
}

TEST_P(GuardedLoaders, OverlongFileNameGoesToTheSystem)
{
    // Would match the ltc_game32 pattern, but a name part of 260 characters is not examined.
    const std::wstring name = L"ltc_game32-" + std::wstring(245, L'x') + L".dll";
    ASSERT_EQ(name.size(), 260u);
    ::SetLastError(0);
    EXPECT_EQ(load(name), nullptr);
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, GuardedLoaders, testing::ValuesIn(kEntryPoints),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GuardedLoadersArguments, NullNameReachesTheSystemUnchanged)
{
    LoaderGuard::systemLoadLibraryW = &::LoadLibraryW;
    ::SetLastError(0);
    const HMODULE direct = ::LoadLibraryW(nullptr);
    const DWORD directError = ::GetLastError();
    ::SetLastError(0);
    EXPECT_EQ(guardedLoadLibraryW(nullptr), direct);
    EXPECT_EQ(::GetLastError(), directError);
}

TEST(GuardedLoadersArguments, DataFileLoadsOfBlockedNamesAreRefusedToo)
{
    LoaderGuard::systemLoadLibraryExW = &::LoadLibraryExW;
    LoaderGuard::systemLoadLibraryExA = &::LoadLibraryExA;
    TempDir dir;
    const auto blocked = dir / L"fraps.dll";
    std::filesystem::copy_file(binDirectory() / L"test_library.dll", blocked);
    ::SetLastError(0);
    EXPECT_EQ(guardedLoadLibraryExW(blocked.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ::SetLastError(0);
    EXPECT_EQ(guardedLoadLibraryExA(blocked.string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // The same file under another name loads as data.
    const auto other = dir / L"other.dll";
    std::filesystem::copy_file(blocked, other);
    const HMODULE data = guardedLoadLibraryExW(other.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(data, nullptr);
    ::FreeLibrary(data);
}

const wchar_t* seenByTheSystem = nullptr;

HMODULE WINAPI recordingLoadLibraryW(LPCWSTR name)
{
    seenByTheSystem = name;
    ::SetLastError(ERROR_NOACCESS);
    return nullptr;
}

// Reading the name faults: the guard lets the system deal with the pointer.
TEST(GuardedLoadersArguments, InvalidPointerIsPassedToTheSystem)
{
    LoaderGuard::systemLoadLibraryW = &recordingLoadLibraryW;
    const auto bad = reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(1));
    EXPECT_EQ(guardedLoadLibraryW(bad), nullptr);
    EXPECT_EQ(seenByTheSystem, bad);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    LoaderGuard::systemLoadLibraryW = &::LoadLibraryW;
}

TEST(RunProtected, ReportsFaultsAndRecovers)
{
    int value = 0;
    EXPECT_TRUE(LoaderGuard::runProtected([](void* p) { *static_cast<int*>(p) = 7; }, &value));
    EXPECT_EQ(value, 7);
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(LoaderGuard::runProtected(
            [](void*) {
                volatile int* nowhere = nullptr;
                *nowhere = 1;
            },
            nullptr));
        EXPECT_FALSE(LoaderGuard::runProtected(
            [](void* p) { static_cast<void>(*static_cast<volatile const char*>(p)); },
            reinterpret_cast<void*>(static_cast<std::uintptr_t>(16))));
    }
    EXPECT_TRUE(LoaderGuard::runProtected([](void* p) { ++*static_cast<int*>(p); }, &value));
    EXPECT_EQ(value, 8);
}

TEST(RunProtected, FaultOutsideAProtectedCallIsNotOurs)
{
    // A handled exception of other code still reaches its own handler.
    EXPECT_THROW(throw std::runtime_error("c++"), std::runtime_error);
    EXPECT_TRUE(LoaderGuard::runProtected([](void*) {}, nullptr));
}

} // namespace
