#include "installation_id_rules.h"

#include <algorithm>
#include <cstdio>

namespace Stats {

namespace {

constexpr std::size_t kIdLength = 40;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;

bool isAlphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

bool isValidInstallationId(std::string_view text)
{
    return text.size() == kIdLength && std::all_of(text.begin(), text.end(), isAlphanumeric);
}

bool isIncompleteInstallationId(std::string_view text)
{
    return text.size() < kIdLength && std::all_of(text.begin(), text.end(), isAlphanumeric);
}

std::string formatDigest(const std::array<std::uint32_t, 5>& words)
{
    char text[kIdLength + 1];
    std::snprintf(text, sizeof(text), "%08X%08X%08X%08X%08X", static_cast<unsigned>(words[0]),
                  static_cast<unsigned>(words[1]), static_cast<unsigned>(words[2]), static_cast<unsigned>(words[3]),
                  static_cast<unsigned>(words[4]));
    return text;
}

std::optional<std::string> acceptPredecessorValue(std::uint32_t type, std::u16string_view buffer,
                                                  std::uint32_t sizeInBytes)
{
    constexpr std::uint32_t kExpectedSize = (kIdLength + 1) * sizeof(char16_t);
    if ((type != kRegSz && type != kRegExpandSz) || sizeInBytes != kExpectedSize || buffer.size() < kIdLength + 1 ||
        buffer[kIdLength] != u'\0')
        return std::nullopt;
    // The value is expected to be ASCII; anything else cannot be an identifier.
    std::string narrow;
    for (char16_t c : buffer.substr(0, kIdLength)) {
        if (c >= 0x80)
            return std::nullopt;
        narrow += static_cast<char>(c);
    }
    return narrow;
}

} // namespace Stats
