#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Nano {

// "Local\" and the file name after the last backslash, letter case kept: every
// writer of the same file name, in any process of the session, meets on it.
std::wstring logMutexName(std::wstring_view path);

// The name a full log file is moved to: "_<tick>.log" replaces a ".log" ending
// (exact case) or is appended. Attempt n > 0 adds "_<n>" after the tick, for
// when two rotations fall within one tick-count value.
std::wstring rotatedLogPath(std::wstring_view path, unsigned long tickCount, unsigned attempt = 0);

// The first rotated name that `exists` does not report: the tick-count name,
// then "_<tick>_1.log", "_<tick>_2.log"... Empty when a hundred are taken.
std::wstring freeRotatedLogPath(std::wstring_view path, unsigned long tickCount,
                                const std::function<bool(const std::wstring&)>& exists);

} // namespace Nano
