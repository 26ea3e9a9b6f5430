#pragma once

#include <windows.h>
#include <objbase.h>

#include <vector>

// Lets exceptions escaping COM method calls reach crash reporting instead of
// being swallowed by COM.
HRESULT disableComExceptionHandling();

// The security descriptor of the elevated host's COM calls: owner and group
// from the thread's token (the process token when the thread has none), and an
// access list that admits the token's user (the launcher runs as the same user,
// unelevated), the local system and the Administrators group. An elevated
// process that starts programs on request must not take requests from other
// users' processes.
class ElevatedSecurityDescriptor {
public:
    // What each admitted caller may do: call in from this machine.
    static constexpr DWORD kComCallRights = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;

    HRESULT initialize();
    PSECURITY_DESCRIPTOR get() { return &descriptor_; }

private:
    std::vector<BYTE> user_;
    std::vector<BYTE> group_;
    std::vector<BYTE> system_;
    std::vector<BYTE> administrators_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
};

// Process-wide COM security of the elevated host with that descriptor, so the
// non-elevated launcher can call in.
HRESULT initializeElevatedComSecurity();

// Enables SeDebugPrivilege in the process token; failures are logged and tolerated.
void enableDebugPrivilege();
