#pragma once

#include <cstddef>
#include <optional>

namespace LoaderGuard {

// The system's own case rules, from the loaded ntdll (RtlEqualString and
// RtlEqualUnicodeString case-insensitive, RtlUpperChar, RtlUpcaseUnicodeChar).
// Without ntdll or a routine, nothing is equal and nothing converts.
bool equalIgnoringCase(const char* left, const char* right, std::size_t length);
bool equalIgnoringCase(const wchar_t* left, const wchar_t* right, std::size_t length);
std::optional<char> upcase(char c);
std::optional<wchar_t> upcase(wchar_t c);

} // namespace LoaderGuard
