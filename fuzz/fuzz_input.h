#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Fuzz {

// A fuzzer's input read as text fields, so that seeds can be written by hand.
// A field ends at a newline or at the end of the input. In wide text a byte
// below 0x80 is that character, and a byte from 0x80 up takes the next two
// bytes as one UTF-16 code unit (little-endian): what a Windows wide string
// holds. wchar_t is 32 bits wide natively; no unit above 0xFFFF is made.
class TextFields {
public:
    TextFields(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}

    bool atEnd() const { return at_ == end_; }

    std::wstring wide() { return wideUntil(true); }
    // The rest of the input as one text, newlines included.
    std::wstring restWide() { return wideUntil(false); }

    std::string bytes()
    {
        std::string field;
        for (; at_ != end_ && *at_ != '\n'; ++at_)
            field += static_cast<char>(*at_);
        skipNewline();
        return field;
    }

    // The field's decimal digits as a number, modulo 2^32; other characters ignored.
    std::uint32_t number()
    {
        std::uint32_t value = 0;
        for (const char c : bytes())
            if (c >= '0' && c <= '9')
                value = value * 10 + static_cast<std::uint32_t>(c - '0');
        return value;
    }

private:
    std::wstring wideUntil(bool newlineEnds)
    {
        std::wstring field;
        while (at_ != end_ && !(newlineEnds && *at_ == '\n')) {
            const std::uint8_t byte = *at_++;
            if (byte < 0x80) {
                field += static_cast<wchar_t>(byte);
                continue;
            }
            std::uint32_t unit = 0;
            for (int shift = 0; shift < 16 && at_ != end_; shift += 8)
                unit |= static_cast<std::uint32_t>(*at_++) << shift;
            field += static_cast<wchar_t>(unit);
        }
        skipNewline();
        return field;
    }

    void skipNewline()
    {
        if (at_ != end_)
            ++at_;
    }

    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

} // namespace Fuzz
