#include "guarded_loaders.h"

#include "block_list.h"
#include "file_name_part.h"
#include "ntdll_strings.h"
#include "structured_exception.h"

namespace LoaderGuard {

decltype(&::LoadLibraryW) systemLoadLibraryW = nullptr;
decltype(&::LoadLibraryA) systemLoadLibraryA = nullptr;
decltype(&::LoadLibraryExW) systemLoadLibraryExW = nullptr;
decltype(&::LoadLibraryExA) systemLoadLibraryExA = nullptr;

namespace {

constexpr std::size_t kMaxFileNamePart = 259;

template <typename Char>
struct Names;
template <>
struct Names<wchar_t> {
    static constexpr std::wstring_view kernel32 = L"kernel32.dll";
    static constexpr std::wstring_view ntdll = L"ntdll.dll";
    static HMODULE loaded(const wchar_t* name)
    {
        HMODULE module = nullptr;
        return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &module) ? module : nullptr;
    }
};
template <>
struct Names<char> {
    static constexpr std::string_view kernel32 = "kernel32.dll";
    static constexpr std::string_view ntdll = "ntdll.dll";
    static HMODULE loaded(const char* name)
    {
        HMODULE module = nullptr;
        return ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &module) ? module : nullptr;
    }
};

enum class Verdict { CallSystem, Refuse, LoadedSystemModule };

template <typename Char>
struct Examination {
    const Char* fileName;
    Verdict verdict = Verdict::CallSystem;
    const Char* moduleName = nullptr;
};

template <typename Char>
bool isName(std::basic_string_view<Char> part, std::basic_string_view<Char> name)
{
    return part.size() == name.size() && equalIgnoringCase(part.data(), name.data(), part.size());
}

// Reads the caller's argument, which may be any pointer: runs protected.
template <typename Char>
void examine(void* argument)
{
    auto& examination = *static_cast<Examination<Char>*>(argument);
    const std::basic_string_view<Char> part = fileNamePart(examination.fileName);
    if (part.size() > kMaxFileNamePart)
        return;
    if (isName(part, Names<Char>::kernel32) || isName(part, Names<Char>::ntdll)) {
        examination.verdict = Verdict::LoadedSystemModule;
        examination.moduleName = part.data();
    } else if (isBlockedDll(part.data(), part.size())) {
        examination.verdict = Verdict::Refuse;
    }
}

// The system function runs outside the protection: its own exceptions are its
// own to handle, and a fault while reading the argument leaves the system to
// report it in its own way.
template <typename Char, typename CallSystem>
HMODULE guardedLoad(const Char* fileName, CallSystem callSystem)
{
    if (fileName == nullptr)
        return callSystem();
    Examination<Char> examination{fileName};
    if (!runProtected(&examine<Char>, &examination))
        return callSystem();
    switch (examination.verdict) {
    case Verdict::Refuse:
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    case Verdict::LoadedSystemModule:
        return Names<Char>::loaded(examination.moduleName);
    case Verdict::CallSystem:
        break;
    }
    return callSystem();
}

} // namespace

} // namespace LoaderGuard

HMODULE WINAPI guardedLoadLibraryW(LPCWSTR fileName)
{
    return LoaderGuard::guardedLoad(fileName, [&] { return LoaderGuard::systemLoadLibraryW(fileName); });
}

HMODULE WINAPI guardedLoadLibraryA(LPCSTR fileName)
{
    return LoaderGuard::guardedLoad(fileName, [&] { return LoaderGuard::systemLoadLibraryA(fileName); });
}

HMODULE WINAPI guardedLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags)
{
    return LoaderGuard::guardedLoad(fileName,
                                    [&] { return LoaderGuard::systemLoadLibraryExW(fileName, file, flags); });
}

HMODULE WINAPI guardedLoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags)
{
    return LoaderGuard::guardedLoad(fileName,
                                    [&] { return LoaderGuard::systemLoadLibraryExA(fileName, file, flags); });
}
