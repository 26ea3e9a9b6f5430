#include "log_mutex.h"

#include "log_naming.h"

#include <stdexcept>
#include <vector>

namespace Nano {

namespace {

using Sid = std::vector<BYTE>;

Sid wellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    Sid sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size))
        throw std::runtime_error("failed to create log mutex");
    sid.resize(size);
    return sid;
}

// Users and the local system account get full access to the mutex, so hosts
// running as different users of one session (elevated or not) share it.
std::vector<BYTE> logMutexSecurityDescriptor()
{
    const Sid users = wellKnownSid(WinBuiltinUsersSid);
    const Sid system = wellKnownSid(WinLocalSystemSid);
    const auto aceSize = [](const Sid& sid) {
        return static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size());
    };
    std::vector<BYTE> acl(sizeof(ACL) + aceSize(users) + aceSize(system));
    auto* dacl = reinterpret_cast<PACL>(acl.data());
    SECURITY_DESCRIPTOR absolute{};
    bool ok = ::InitializeAcl(dacl, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
              ::AddAccessAllowedAceEx(dacl, ACL_REVISION, 0, MUTEX_ALL_ACCESS, const_cast<BYTE*>(users.data())) &&
              ::AddAccessAllowedAceEx(dacl, ACL_REVISION, 0, MUTEX_ALL_ACCESS, const_cast<BYTE*>(system.data())) &&
              ::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) &&
              ::SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE);
    DWORD size = 0;
    if (ok) {
        ::MakeSelfRelativeSD(&absolute, nullptr, &size);
        ok = size != 0;
    }
    std::vector<BYTE> selfRelative(size);
    if (ok)
        ok = ::MakeSelfRelativeSD(&absolute, selfRelative.data(), &size);
    if (!ok)
        throw std::runtime_error("failed to create log mutex");
    return selfRelative;
}

} // namespace

LogMutex::LogMutex(const std::wstring& path)
{
    std::vector<BYTE> descriptor = logMutexSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.data(), FALSE};
    handle_.reset(::CreateMutexW(&attributes, FALSE, logMutexName(path).c_str()));
    if (!handle_)
        throw std::runtime_error("failed to create log mutex");
}

} // namespace Nano
