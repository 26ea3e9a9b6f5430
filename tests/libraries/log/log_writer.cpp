// Helper process of the file log tests: writes numbered lines into a shared log
// file with a small size limit, as a host process would.
#include "log/nano/file_log.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    const std::wstring path = argv[1];
    const int writer = std::wcstol(argv[2], nullptr, 10);
    const int lines = std::wcstol(argv[3], nullptr, 10);
    Nano::FileLog log(path, 1024, true);
    for (int line = 0; line < lines; ++line) {
        const std::wstring text = L"writer " + std::to_wstring(writer) + L" line " + std::to_wstring(line) + L" " +
                                  std::wstring(40, L'.');
        log.write(L"%s", 2, text.c_str());
    }
    return 0;
}
