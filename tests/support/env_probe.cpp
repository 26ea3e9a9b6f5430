// Helper process of the environment tests: answers one question per run on
// standard output, so that values computed once per process start afresh.
//   env_probe app-path | wine | mac-wrapper | installation-id [LOGPATH]
#include "log/log.h"
#include "err/utf.h"
#include "stats/stats_utils.h"
#include "system/win32/environment.h"
#include "system/win32/known_paths_win.h"

#include <cstdio>
#include <string>

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
    } else
        return 2;
    std::fputs(answer.c_str(), stdout);
    return 0;
}
