#pragma once

#include <cstdint>
#include <exception>

namespace MonitorClient {

// The exception code the abort signal is turned into, so that the library's
// exception handling sees an abort.
inline constexpr unsigned long kAbortExceptionCode = 0xAB067;

// Routes std::terminate, the C runtime's invalid-parameter handler and the abort
// signal to crash reporting while the library is loaded, and puts the previous
// handlers back afterwards.
class ProcessHandlers {
public:
    using InvalidParameterHandler = void (*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                             std::uintptr_t);

    // Report a termination through the library; both then abort.
    void install(std::terminate_handler onTerminate, InvalidParameterHandler onInvalidParameter);
    void restore();

    // Raises kAbortExceptionCode: the abort signal's handler.
    static void onAbortSignal(int);

private:
    bool installed_ = false;
    std::terminate_handler terminate_ = nullptr;
    InvalidParameterHandler invalidParameter_ = nullptr;
    void (*abort_)(int) = nullptr;
};

} // namespace MonitorClient
