#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <vector>

// The plug-in's side of the buffer protocol, as the host asks it: the size with
// a null buffer first, then the text into a buffer one character larger than
// that, so answers with and without the terminator both arrive whole. The text
// ends at the first zero character. A negative size cannot be served and is
// answered like an allocation that failed.
template <typename Read>
std::wstring readPluginText(Read&& read)
{
    const std::int32_t size = read(nullptr, 0);
    if (size < 0)
        throw std::bad_array_new_length();
    if (size == 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(size) + 1, L'\0');
    read(buffer.data(), size);
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}
