#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace Nano {

// "Local\" and the file name after the last backslash, letter case kept: every
// writer of the same file name, in any process of the session, meets on it.
std::wstring logMutexName(std::wstring_view path);

// The mutex of the file itself, the same for every spelling of its path: named
// after a digest of the canonical path in the file system's letter case, so a
// path of any length, backslashes and all, gives a valid name.
std::wstring fileMutexName(std::wstring_view canonicalFoldedPath);

// A path as the system returns final paths ("\\?\C:\x", "\\?\UNC\srv\share\x")
// in its usual form ("C:\x", "\\srv\share\x"); other paths unchanged.
std::wstring withoutLongPathPrefix(std::wstring_view path);

// The folder of a path up to its last backslash (kept), and the name after it.
std::pair<std::wstring_view, std::wstring_view> splitFileName(std::wstring_view path);

// Folder and name with exactly one backslash between them.
std::wstring joinFileName(std::wstring_view folder, std::wstring_view name);

// The name a full log file is moved to: "_<tick>.log" replaces a ".log" ending
// (exact case) or is appended. Attempt n > 0 adds "_<n>" after the tick, for
// when two rotations fall within one tick-count value.
std::wstring rotatedLogPath(std::wstring_view path, unsigned long tickCount, unsigned attempt = 0);

// The first rotated name that `exists` does not report: the tick-count name,
// then "_<tick>_1.log", "_<tick>_2.log"... Empty when a hundred are taken.
std::wstring freeRotatedLogPath(std::wstring_view path, unsigned long tickCount,
                                const std::function<bool(const std::wstring&)>& exists);

} // namespace Nano
