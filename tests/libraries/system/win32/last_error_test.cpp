#include "system/win32/last_error.h"

#include <gtest/gtest.h>

namespace {

// HRESULT_FROM_WIN32(0) is S_OK: a failed call that left no error must not read as success.
TEST(LastError, AFailureWithoutAnErrorCodeIsStillAFailure)
{
    EXPECT_EQ(System::Win32::failureFromError(ERROR_SUCCESS), E_FAIL);
    EXPECT_EQ(System::Win32::failureFromError(ERROR_MOD_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(System::Win32::lastErrorFailure(), E_FAIL);
}

} // namespace
