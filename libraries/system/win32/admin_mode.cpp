#include "admin_mode.h"

#include "unique_resource.h"

#include "err/error.h"

bool isAppRunningInAdminMode()
{
    const auto fail = [] {
        throw Err::Error("Error occurred in isAppRunningInAdminMode()", static_cast<int>(::GetLastError()),
                         std::system_category());
    };
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    System::Win32::UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                    0, 0, 0, 0, administrators.put()))
        fail();
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators.get(), &member))
        fail();
    return member != FALSE;
}
