#include "system/win32/unique_resource.h"

#include <gtest/gtest.h>

namespace {

using System::Win32::UniqueHandle;

bool isOpen(HANDLE handle)
{
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE newEvent()
{
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TEST(UniqueResource, ClosesWhatItOwnsWhenItEnds)
{
    HANDLE raw = newEvent();
    { UniqueHandle owner(raw); EXPECT_TRUE(isOpen(raw)); }
    EXPECT_FALSE(isOpen(raw));
}

TEST(UniqueResource, ResetKeepsTheLastErrorOfTheFailureBeforeIt)
{
    UniqueHandle owner(newEvent());
    ::SetLastError(ERROR_ACCESS_DENIED);
    owner.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(owner);
}

TEST(UniqueResource, ReleaseGivesUpOwnership)
{
    HANDLE raw;
    { UniqueHandle owner(newEvent()); raw = owner.release(); EXPECT_FALSE(owner); }
    EXPECT_TRUE(isOpen(raw));
    ::CloseHandle(raw);
}

TEST(UniqueResource, MoveTransfersAndPutClosesTheOldValue)
{
    HANDLE first = newEvent();
    UniqueHandle a(first);
    UniqueHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), first);
    *b.put() = newEvent();
    EXPECT_FALSE(isOpen(first));
    EXPECT_TRUE(b);
}

TEST(UniqueResource, InvalidHandleValueMeansNothingHeld)
{
    System::Win32::UniqueFileHandle file(::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                       0, nullptr));
    EXPECT_FALSE(file);
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

} // namespace
