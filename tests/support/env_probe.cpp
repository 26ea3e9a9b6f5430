// Helper process of the environment tests: answers one question per run on
// standard output, so that values computed once per process start afresh.
//   env_probe app-path | wine | mac-wrapper | installation-id [LOGPATH]
//   env_probe installation-id-together NAME   (see below)
//   env_probe long-temp-folder LENGTH         (see below)
#include "err/utf.h"
#include "loader_guard/hook_engine.h"
#include "log/log.h"
#include "stats/stats_utils.h"
#include "system/win32/environment.h"
#include "system/win32/known_paths_win.h"
#include "system/win32/unique_resource.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// Every probe of a group says it is ready (semaphore NAME-ready), then all
// start at once when the test opens the gate (event NAME-go).
std::string installationIdTogether(const std::wstring& name)
{
    using System::Win32::UniqueHandle;
    const UniqueHandle ready(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, (name + L"-ready").c_str()));
    const UniqueHandle go(::OpenEventW(SYNCHRONIZE, FALSE, (name + L"-go").c_str()));
    if (!ready || !go || !::ReleaseSemaphore(ready.get(), 1, nullptr) ||
        ::WaitForSingleObject(go.get(), 60000) != WAIT_OBJECT_0)
        return "gate failed";
    return Stats::installationId();
}

// GetTempPathW as Windows answers for a TMP longer than MAX_PATH (Wine refuses
// one): too small a buffer gets no path, only the size needed, terminator
// included.
std::wstring longTemp;
DWORD WINAPI longGetTempPathW(DWORD size, LPWSTR buffer)
{
    const auto needed = static_cast<DWORD>(longTemp.size() + 1);
    if (size < needed) {
        std::fill(buffer, buffer + size, L'\0');
        return needed;
    }
    std::copy(longTemp.c_str(), longTemp.c_str() + needed, buffer);
    return needed - 1;
}

std::string longTempFolder(std::size_t length)
{
    longTemp = L"C:\\";
    longTemp.resize(length - 1, L't');
    longTemp += L'\\';
    void* system = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "GetTempPathW"));
    HookDescriptor hook{&system, reinterpret_cast<void*>(&longGetTempPathW), 0};
    if (setHooks(&hook, 1) != 1)
        return "hook failed";
    return Err::toUtf8(System::Env::KnownPaths::tempFolder().str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring question = argv[1];
    std::string answer;
    if (question == L"app-path")
        answer = Err::toUtf8(System::Env::KnownPaths::applicationPath().str());
    else if (question == L"wine")
        answer = System::Env::isWine() ? "true" : "false";
    else if (question == L"mac-wrapper")
        answer = System::Env::isMacWrapper() ? "true" : "false";
    else if (question == L"installation-id") {
        if (argc > 2)
            setLogPath(argv[2]);
        answer = Stats::installationId();
    } else if (question == L"installation-id-together" && argc > 2)
        answer = installationIdTogether(argv[2]);
    else if (question == L"long-temp-folder" && argc > 2)
        answer = longTempFolder(std::stoul(argv[2]));
    else
        return 2;
    std::fputs(answer.c_str(), stdout);
    return 0;
}
