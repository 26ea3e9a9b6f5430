#include "loader_guard/own_memory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Two pages: the first readable, the second with the protection of the case.
class TwoPages {
public:
    explicit TwoPages(DWORD second)
    {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<std::uint8_t*>(
            ::VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        std::memset(base_, 0x5A, 2 * page_);
        DWORD previous = 0;
        ::VirtualProtect(base_ + page_, page_, second, &previous);
    }
    ~TwoPages() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    TwoPages(const TwoPages&) = delete;
    TwoPages& operator=(const TwoPages&) = delete;

    std::uint64_t at(std::size_t offset) const { return reinterpret_cast<std::uintptr_t>(base_) + offset; }
    std::size_t page() const { return page_; }

private:
    std::size_t page_ = 0;
    std::uint8_t* base_ = nullptr;
};

struct ReadCase {
    const char* name;
    DWORD second;
    bool acrossTheBoundary; // the 16 bytes start 8 before the second page
    bool copied;
};

TEST(OwnMemory, CopiesOnlyWhatIsCommittedAndReadable)
{
    const ReadCase cases[] = {
        {"inside the readable page", PAGE_NOACCESS, false, true},
        {"into a no-access page", PAGE_NOACCESS, true, false},
        {"into a guard page", PAGE_READWRITE | PAGE_GUARD, true, false},
        {"into executable code", PAGE_EXECUTE_READ, true, true},
    };
    for (const ReadCase& c : cases) {
        const TwoPages pages(c.second);
        std::uint8_t buffer[16] = {};
        const std::size_t offset = c.acrossTheBoundary ? pages.page() - 8 : 64;
        EXPECT_EQ(Hooking::readOwnMemory(pages.at(offset), buffer, sizeof(buffer)), c.copied) << c.name;
        EXPECT_EQ(buffer[0], c.copied ? 0x5A : 0) << c.name;
    }
    std::uint8_t buffer[4] = {};
    EXPECT_FALSE(Hooking::readOwnMemory(0, buffer, sizeof(buffer)));
    EXPECT_FALSE(Hooking::readOwnMemory(~std::uint64_t{0} - 1, buffer, sizeof(buffer)));
}

} // namespace
