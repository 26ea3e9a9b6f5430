#include "terminate_now.h"

#include "system/win32/unique_resource.h"

// Ending the process from inside kills the other threads first and leaves the
// calling one to end last. Under Wine that thread may still have to serve an
// I/O completion of a killed thread on its way out, and wait forever for a
// lock the killed thread held: the process never ends. A job ends every thread
// of its processes at once, the calling one too, and the process's end (with
// its exit code) no longer waits for any of them. Where the process cannot
// join a job of its own (an older Windows, inside a job that allows no other),
// it ends itself as before.
void terminateNow(UINT exitCode) noexcept
{
    const System::Win32::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (job && ::AssignProcessToJobObject(job.get(), ::GetCurrentProcess()))
        ::TerminateJobObject(job.get(), exitCode);
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
    ::ExitProcess(exitCode);
}
