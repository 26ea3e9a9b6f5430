#pragma once

#include <string>

namespace MonitorClient {

inline constexpr wchar_t kLibraryFileName[] = L"monitor_client_impl.dll";

// Where the library is loaded from: the bare name for an empty directory, the
// directory itself when it names an existing file, otherwise the library's name
// in that directory (whether or not it exists).
std::wstring libraryPath(const std::wstring& directory);

// True when a file (not a directory) exists at the path.
bool isExistingFile(const std::wstring& path);

} // namespace MonitorClient
