#include "structured_exception.h"

#include <windows.h>

namespace LoaderGuard {

namespace {

struct RecoveryPoint {
    CONTEXT context;
    volatile bool faulted;
};

thread_local RecoveryPoint* activePoint = nullptr;

// A fault is a code of error severity (both top bits set): access violation,
// in-page error, illegal instruction, stack overflow. Warnings (breakpoints,
// single steps, guard pages) and informational codes (debug output) pass on to
// the debugger and the system. GCC's C++ throw (0x20474343) has no severity
// bits, so it passes too; an MSVC-style throw (0xE06D7363) would count as a
// fault, but the protected code calls nothing that raises one.
bool isFault(DWORD code)
{
    return (code & 0xC0000000u) == 0xC0000000u;
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
