#include "last_chance_filter.h"

#include "log/log.h"
#include "terminate_now.h"

LONG WINAPI lastChanceFilter(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    // An overflowed stack has no room for the log.
    if (record.ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        HOST_LOG(LogLevel::Error, L"fatal error: unhandled exception 0x%x at %p in thread %u, the host process ends",
                 static_cast<unsigned>(record.ExceptionCode), record.ExceptionAddress,
                 static_cast<unsigned>(::GetCurrentThreadId()));
    terminateNow(record.ExceptionCode);
}

void installLastChanceFilter()
{
    ::SetUnhandledExceptionFilter(&lastChanceFilter);
}
