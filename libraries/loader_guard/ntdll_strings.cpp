#include "ntdll_strings.h"

#include "system/win32/proc_address.h"

#include <winternl.h>

namespace LoaderGuard {

namespace {

struct AnsiString {
    USHORT Length;
    USHORT MaximumLength;
    const char* Buffer;
};

using RtlEqualStringFn = BOOLEAN(NTAPI*)(const AnsiString*, const AnsiString*, BOOLEAN);
using RtlEqualUnicodeStringFn = BOOLEAN(NTAPI*)(const UNICODE_STRING*, const UNICODE_STRING*, BOOLEAN);
using RtlUpperCharFn = CHAR(NTAPI*)(CHAR);
using RtlUpcaseUnicodeCharFn = WCHAR(NTAPI*)(WCHAR);

// ntdll never unloads, so its routines are looked up once and kept.
struct NtdllRoutines {
    RtlEqualStringFn equalString = nullptr;
    RtlEqualUnicodeStringFn equalUnicodeString = nullptr;
    RtlUpperCharFn upperChar = nullptr;
    RtlUpcaseUnicodeCharFn upcaseUnicodeChar = nullptr;

    NtdllRoutines()
    {
        using System::Win32::procAddress;
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll");
        equalString = procAddress<RtlEqualStringFn>(ntdll, "RtlEqualString");
        equalUnicodeString = procAddress<RtlEqualUnicodeStringFn>(ntdll, "RtlEqualUnicodeString");
        upperChar = procAddress<RtlUpperCharFn>(ntdll, "RtlUpperChar");
        upcaseUnicodeChar = procAddress<RtlUpcaseUnicodeCharFn>(ntdll, "RtlUpcaseUnicodeChar");
    }
};

const NtdllRoutines& routines()
{
    static const NtdllRoutines loaded;
    return loaded;
}

// Counted strings of the system are limited to 32767 characters.
constexpr std::size_t kMaxCounted = 0x7FFF;

} // namespace

bool equalIgnoringCase(const char* left, const char* right, std::size_t length)
{
    const auto equal = routines().equalString;
    if (equal == nullptr || length > kMaxCounted)
        return false;
    const auto size = static_cast<USHORT>(length);
    const AnsiString a{size, size, left};
    const AnsiString b{size, size, right};
    return equal(&a, &b, TRUE) != FALSE;
}

bool equalIgnoringCase(const wchar_t* left, const wchar_t* right, std::size_t length)
{
    const auto equal = routines().equalUnicodeString;
    if (equal == nullptr || length > kMaxCounted / sizeof(wchar_t))
        return false;
    const auto size = static_cast<USHORT>(length * sizeof(wchar_t));
    const UNICODE_STRING a{size, size, const_cast<wchar_t*>(left)};
    const UNICODE_STRING b{size, size, const_cast<wchar_t*>(right)};
    return equal(&a, &b, TRUE) != FALSE;
}

std::optional<char> upcase(char c)
{
    const auto upper = routines().upperChar;
    return upper ? std::optional<char>(upper(c)) : std::nullopt;
}

std::optional<wchar_t> upcase(wchar_t c)
{
    const auto upper = routines().upcaseUnicodeChar;
    return upper ? std::optional<wchar_t>(upper(c)) : std::nullopt;
}

} // namespace LoaderGuard
