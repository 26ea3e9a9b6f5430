#include "process_security.h"

#include "log/log.h"
#include "system/win32/last_error.h"
#include "system/win32/unique_resource.h"

#include <objbase.h>
#include <objidl.h>
#include <wrl/client.h>

#include <vector>

using System::Win32::UniqueHandle;

namespace {

std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !::GetTokenInformation(token, kind, data.data(), size, &size))
        return {};
    return data;
}

} // namespace

HRESULT disableComExceptionHandling()
{
    Microsoft::WRL::ComPtr<IGlobalOptions> options;
    HRESULT hr = ::CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&options));
    if (SUCCEEDED(hr))
        hr = options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE);
    return hr;
}

std::vector<BYTE> wellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> sid(size);
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return {};
    sid.resize(size);
    return sid;
}

HRESULT ElevatedSecurityDescriptor::initialize()
{
    UniqueHandle token;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
        !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return System::Win32::lastErrorFailure();
    user_ = tokenInformation(token.get(), TokenUser);
    group_ = tokenInformation(token.get(), TokenPrimaryGroup);
    system_ = wellKnownSid(WinLocalSystemSid);
    administrators_ = wellKnownSid(WinBuiltinAdministratorsSid);
    if (user_.empty() || group_.empty() || system_.empty() || administrators_.empty())
        return System::Win32::lastErrorFailure();
    PSID userSid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const PSID admitted[] = {userSid, system_.data(), administrators_.data()};

    DWORD aclSize = sizeof(ACL);
    for (const PSID sid : admitted)
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
    acl_.assign(aclSize, 0);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION))
        return System::Win32::lastErrorFailure();
    for (const PSID sid : admitted)
        if (!::AddAccessAllowedAce(acl, ACL_REVISION, kComCallRights, sid))
            return System::Win32::lastErrorFailure();

    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorOwner(&descriptor_, userSid, FALSE) ||
        !::SetSecurityDescriptorGroup(&descriptor_, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(group_.data())->PrimaryGroup,
                                      FALSE) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
        return System::Win32::lastErrorFailure();
    return S_OK;
}

HRESULT initializeElevatedComSecurity()
{
    ElevatedSecurityDescriptor descriptor;
    if (const HRESULT hr = descriptor.initialize(); FAILED(hr))
        return hr;
    return ::CoInitializeSecurity(descriptor.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

void enableDebugPrivilege()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        HOST_LOG(LogLevel::Warning, L"Failed to open process token to set previlegies, last error: %d",
                 static_cast<int>(::GetLastError()));
        return;
    }
    // The previous state is asked for first, then re-applied with "enabled"
    // added, so attributes other than that one stay as they were.
    bool enabled = false;
    LUID luid;
    if (::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &luid)) {
        TOKEN_PRIVILEGES cleared{1, {{luid, 0}}};
        TOKEN_PRIVILEGES previous{};
        DWORD previousSize = sizeof(previous);
        ::SetLastError(ERROR_SUCCESS);
        if (::AdjustTokenPrivileges(token.get(), FALSE, &cleared, sizeof(cleared), &previous, &previousSize) &&
            ::GetLastError() == ERROR_SUCCESS) {
            previous.PrivilegeCount = 1;
            previous.Privileges[0].Luid = luid;
            previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
            enabled = ::AdjustTokenPrivileges(token.get(), FALSE, &previous, previousSize, nullptr, nullptr) &&
                      ::GetLastError() == ERROR_SUCCESS;
        }
    }
    if (!enabled)
        HOST_LOG(LogLevel::Warning, L"Failed to set debug privilege to current prcess token: %d",
                 static_cast<int>(::GetLastError()));
}
