#pragma once

// What the "log_flood" test plug-in writes through IPluginSystem::writeLog, and
// what its test looks for in the host's log: numbered messages long enough that
// a few hundred from each thread carry the log across several rotations.
#include <string>

namespace LogFlood {

inline constexpr int kThreads = 4;
inline constexpr int kMessagesPerThread = 250;
inline constexpr std::size_t kPadding = 1500;

// Unique for each thread and number; the padding shifts with both, so a line
// pieced together from two messages hardly ever reads as a whole one.
inline std::wstring message(int thread, int number)
{
    std::wstring text = L"log_flood thread " + std::to_wstring(thread) + L" message " + std::to_wstring(number) + L" ";
    for (std::size_t i = 0; i < kPadding; ++i)
        text += static_cast<wchar_t>(L'a' + (i + static_cast<std::size_t>(thread * 7 + number)) % 26);
    return text;
}

} // namespace LogFlood
