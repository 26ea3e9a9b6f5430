#include "plugin_call.h"

#include "last_chance_filter.h"
#include "log/log.h"
#include "terminate_now.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

// The guard's frame (plugin_call_<architecture>.S) and its exception handler.
extern "C" {
int ombrix_plugin_call_thunk(PluginCall::Detail::Body body, void* context);
EXCEPTION_DISPOSITION ombrix_plugin_call_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                 void* dispatch);
#if defined(_WIN64)
// Inside the thunk, right after the call: RtlUnwindEx lands here with rax = 0.
extern char ombrix_plugin_call_resume[];
#else
// Restores the thunk's own frame from its registration record and returns 0 from it.
[[noreturn]] void ombrix_plugin_call_resume(void* frame);
#endif
}

#if !defined(_WIN64)
#include <cstddef>
// plugin_call_i686.S pushes the handler, then the previous record, and hands
// the record's address to RtlUnwind; the resume path finds ebp 20 bytes above.
static_assert(sizeof(EXCEPTION_REGISTRATION_RECORD) == 8 && offsetof(EXCEPTION_REGISTRATION_RECORD, Next) == 0 &&
                  offsetof(EXCEPTION_REGISTRATION_RECORD, Handler) == 4,
              "the layout of the thunk's registration record");
static_assert(sizeof(void*) == 4, "the 32-bit thunk");
#endif

namespace {

// MSVC's throw; the value is "msc" in ASCII, with 0xE0 for an error status.
constexpr DWORD kMsvcException = 0xE06D7363;
// GCC's own throw, unwind and forced unwind on SEH-based Windows ("GCC" plus a kind).
constexpr DWORD kGccExceptionMask = 0xF0FFFFFF;
constexpr DWORD kGccException = 0x20474343;

// The first parameter of an MSVC throw: the versions of its throw information.
constexpr ULONG_PTR kMsvcMagics[] = {0x19930520, 0x19930521, 0x19930522};
#if defined(_WIN64)
// Magic, thrown object, throw information, and the image base its fields are relative to.
constexpr DWORD kMsvcParameters = 4;
using ThrownObjectDestructor = void (*)(void* object);
#else
constexpr DWORD kMsvcParameters = 3;
using ThrownObjectDestructor = void(__attribute__((thiscall)) *)(void* object);
#endif
// Where the throw information keeps the thrown object's destructor (after its attributes).
constexpr std::size_t kDestructorOffset = 4;

enum class Escape { Ours, Foreign, Crash };

Escape classify(DWORD code)
{
    if ((code & kGccExceptionMask) == kGccException)
        return Escape::Ours;
    return code == kMsvcException ? Escape::Foreign : Escape::Crash;
}

// As an unhandled exception would: the top-level filter sees the fault (crash
// reporting's, or the host's own last chance), then the process ends with its
// code. The system's handling is left out: it may wait for a debugger or for
// somebody to close an error dialog, and the launcher waits for the exit code.
[[noreturn]] void crash(EXCEPTION_RECORD* record, CONTEXT* context)
{
    const DWORD code = record->ExceptionCode;
    EXCEPTION_POINTERS pointers{record, context};
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = ::SetUnhandledExceptionFilter(nullptr);
    ::SetUnhandledExceptionFilter(filter);
    if (filter == &lastChanceFilter || filter == nullptr || code == EXCEPTION_STACK_OVERFLOW)
        lastChanceFilter(&pointers);
    HOST_LOG(LogLevel::Error, L"fatal error: exception 0x%x at %p in a call into the plugin, the host process ends",
             static_cast<unsigned>(code), record->ExceptionAddress);
    filter(&pointers);
    terminateNow(code);
}

// The catch block that would have ended an MSVC throw destroys the thrown
// object, and with it what the object holds (a message on the plug-in's heap,
// say). The host catches none, so it does the same before the unwind takes the
// frame the object lives in; without it, every foreign throw leaks.
void destroyThrownObject(const EXCEPTION_RECORD& record) noexcept
{
    const ULONG_PTR* parameters = record.ExceptionInformation;
    if (record.NumberParameters < kMsvcParameters ||
        std::find(std::begin(kMsvcMagics), std::end(kMsvcMagics), parameters[0]) == std::end(kMsvcMagics))
        return;
    void* object = reinterpret_cast<void*>(parameters[1]);
    const auto* throwInfo = reinterpret_cast<const unsigned char*>(parameters[2]);
    if (object == nullptr || throwInfo == nullptr)
        return;
#if defined(_WIN64)
    std::int32_t destructorRva = 0;
    std::memcpy(&destructorRva, throwInfo + kDestructorOffset, sizeof(destructorRva));
    if (destructorRva == 0)
        return;
    const auto destructor = reinterpret_cast<ThrownObjectDestructor>(parameters[3] + destructorRva);
#else
    ThrownObjectDestructor destructor = nullptr;
    std::memcpy(&destructor, throwInfo + kDestructorOffset, sizeof(destructor));
    if (destructor == nullptr)
        return;
#endif
    destructor(object);
}

// Unwinds the plug-in's frames (running its destructors) and resumes the thunk,
// which then reports that a foreign exception ended the call.
[[noreturn]] void resume(EXCEPTION_RECORD* record, void* frame, [[maybe_unused]] CONTEXT* context,
                         [[maybe_unused]] void* dispatch)
{
#if defined(_WIN64)
    ::RtlUnwindEx(frame, ombrix_plugin_call_resume, record, nullptr, context,
                  static_cast<DISPATCHER_CONTEXT*>(dispatch)->HistoryTable);
    // RtlUnwindEx does not come back.
    terminateNow(record->ExceptionCode);
#else
    ::RtlUnwind(frame, nullptr, record, nullptr);
    ombrix_plugin_call_resume(frame);
#endif
}

} // namespace

extern "C" EXCEPTION_DISPOSITION ombrix_plugin_call_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                            void* dispatch)
{
    // Unwinding passes through the guard on its way to a handler further up.
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0)
        return ExceptionContinueSearch;
    switch (classify(record->ExceptionCode)) {
    case Escape::Ours:
        return ExceptionContinueSearch;
    case Escape::Foreign:
        destroyThrownObject(*record);
        resume(record, frame, context, dispatch);
    case Escape::Crash:
        break;
    }
    crash(record, context);
}

namespace PluginCall {

ForeignException::ForeignException()
    : std::runtime_error("the plugin let a C++ exception of another compiler escape (0xE06D7363)")
{
}

bool Detail::runGuarded(Body body, void* context)
{
    return ombrix_plugin_call_thunk(body, context) != 0;
}

} // namespace PluginCall
