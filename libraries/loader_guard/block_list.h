#pragma once

#include <cstddef>
#include <cstdint>

// One DLL that other vendors inject into processes and that the host refuses.
struct BlockListEntry {
    const char* ansiName;
    const wchar_t* wideName;
    std::int32_t isPattern; // 1: "*" and "?" are wildcards
};

inline constexpr std::size_t kDllBlockListSize = 71;
extern const BlockListEntry kDllBlockList[kDllBlockListSize];

// True when a row of the block list matches the file name part (the characters
// after the last separator), compared without regard to case; pattern rows by
// wildcardMatch. Length is in characters.
bool isBlockedDll(const char* fileName, std::size_t length);
bool isBlockedDll(const wchar_t* fileName, std::size_t length);
