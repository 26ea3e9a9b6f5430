#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Stats {

// Exactly 40 characters of [0-9a-zA-Z], nothing else (a line end makes it invalid).
bool isValidInstallationId(std::string_view text);

// Shorter than an identifier but its beginning (empty included): what a file
// holds while its writer is still at it.
bool isIncompleteInstallationId(std::string_view text);

// The five 32-bit words of a SHA-1 digest as 40 upper-case hexadecimal digits.
std::string formatDigest(const std::array<std::uint32_t, 5>& words);

// The predecessor launcher's registry value, as queried into a buffer of 41 wide
// characters: accepted only as a string type holding exactly 40 characters and
// the terminator. Returns the 40 characters as narrow text.
std::optional<std::string> acceptPredecessorValue(std::uint32_t type, std::u16string_view buffer,
                                                  std::uint32_t sizeInBytes);

} // namespace Stats
