#pragma once

namespace LoaderGuard {

// Runs `body(argument)` and reports whether it ended without a structured
// exception (an access violation reading a bad pointer, for one). MinGW has no
// __try: a vectored handler returns the faulting thread to a recovery point
// captured here. The faulting frames are abandoned, not unwound, so `body`
// must own no resources, and it must not call code that handles its own
// structured exceptions (a vectored handler sees them first).
bool runProtected(void (*body)(void*), void* argument) noexcept;

} // namespace LoaderGuard
