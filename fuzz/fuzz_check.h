#pragma once

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

// A property that does not hold: named on standard error, then abort(), which
// libFuzzer reports as a crash and saves the input of.
[[noreturn]] inline void fail(const char* property)
{
    std::fprintf(stderr, "property does not hold: %s\n", property);
    std::abort();
}

inline void require(bool holds, const char* property)
{
    if (!holds)
        fail(property);
}

} // namespace Fuzz
