#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Diagnostics::Private {

// What the "custom_config.xml" reader accepts; a file beyond either limit is
// ignored with one warning, as a file that does not parse.
//
// The real file is a few KB: the size is taken from the file system before a
// byte is read, and bounds what the reader holds and parses (start-up time,
// and memory a 32-bit host has little of).
inline constexpr std::uintmax_t kCustomConfigMaxBytes = 256 * 1024;
// The real file nests five elements deep: cereal's XML parser (rapidxml)
// recurses once per element, and 10,000 levels overflow the stack.
inline constexpr std::size_t kCustomConfigMaxDepth = 64;

// How deep elements nest in `text` as cereal's XML parser reads it ("<a><b/></a>"
// is 2): the grammar of rapidxml as cereal::XMLInputArchive runs it, followed
// byte by byte without recursion (comments, CDATA, DOCTYPE with its internal
// subset, processing instructions, the XML declaration and quoted attribute
// values open nothing and close nothing; a closing tag closes the innermost
// element whatever its name), up to where the parser stops: the end, the first
// zero byte or the first malformed construct.
std::size_t xmlElementDepth(std::string_view text);

} // namespace Diagnostics::Private
