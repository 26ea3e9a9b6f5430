#include "recorder.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace Standin {

namespace {

struct Record {
    std::mutex lock;
    std::wstring path;
    FILE* file = nullptr;
};

Record& theRecord()
{
    static Record& instance = *new Record;
    return instance;
}

} // namespace

std::wstring environment(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return length > 0 && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
}

void record(const std::string& line)
{
    Record& out = theRecord();
    const std::wstring path = environment(L"OMBRIX_STANDIN_RECORD");
    const std::lock_guard lock(out.lock);
    if (path != out.path) {
        if (out.file)
            std::fclose(out.file);
        out.path = path;
        out.file = path.empty() ? nullptr : ::_wfopen(path.c_str(), L"ab");
    }
    if (out.file) {
        std::fprintf(out.file, "%s\n", line.c_str());
        std::fflush(out.file);
    }
}

void closeRecord()
{
    Record& out = theRecord();
    const std::lock_guard lock(out.lock);
    if (out.file)
        std::fclose(out.file);
    out.file = nullptr;
    out.path.clear();
}

std::string quoted(const char* text)
{
    return text ? "\"" + std::string(text) + "\"" : "(null)";
}

} // namespace Standin

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    // At process exit (reserved not null) other threads are gone mid-call: leave the file alone.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        Standin::closeRecord();
    return TRUE;
}
