#include "structured_exception.h"

#include <windows.h>

namespace LoaderGuard {

namespace {

struct RecoveryPoint {
    CONTEXT context;
    volatile bool faulted;
};

thread_local RecoveryPoint* activePoint = nullptr;

// Exceptions that are errors of the code (access violation, illegal
// instruction, ...) have both top bits set; C++ exceptions and debugger
// notifications are left to their own handlers.
bool isFault(DWORD code)
{
    constexpr DWORD kGccCxxException = 0x20474343;
    return (code & 0xC0000000u) == 0xC0000000u && code != kGccCxxException;
}

LONG CALLBACK recoverFromFault(EXCEPTION_POINTERS* exception)
{
    RecoveryPoint* point = activePoint;
    if (point == nullptr || !isFault(exception->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    activePoint = nullptr;
    point->faulted = true;
    *exception->ContextRecord = point->context;
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

bool runProtected(void (*body)(void*), void* argument) noexcept
{
    static const PVOID handler = ::AddVectoredExceptionHandler(1, recoverFromFault);
    if (handler == nullptr)
        return false;
    RecoveryPoint point{};
    point.faulted = false;
    RecoveryPoint* const previous = activePoint;
    // A fault inside `body` resumes right after this capture, with `faulted` set.
    ::RtlCaptureContext(&point.context);
    if (!point.faulted) {
        activePoint = &point;
        body(argument);
    }
    activePoint = previous;
    return !point.faulted;
}

} // namespace LoaderGuard
