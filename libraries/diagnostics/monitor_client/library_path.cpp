#include "library_path.h"

#include <windows.h>

namespace MonitorClient {

bool isExistingFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring libraryPath(const std::wstring& directory)
{
    if (directory.empty())
        return kLibraryFileName;
    if (isExistingFile(directory))
        return directory;
    const bool separated = directory.back() == L'\\' || directory.back() == L'/';
    return directory + (separated ? L"" : L"\\") + kLibraryFileName;
}

} // namespace MonitorClient
