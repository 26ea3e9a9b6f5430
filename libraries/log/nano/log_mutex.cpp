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

std::wstring fullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return path;
        if (length < full.size()) {
            full.resize(length);
            return withoutLongPathPrefix(full);
        }
        full.resize(length);
    }
}

// The path of an existing file or folder as the system resolves it: long names
// for short ones, links followed, the names' own letter case. Empty when there
// is nothing to resolve.
std::wstring finalPath(const std::wstring& path)
{
    // No access asked for, so even a file held without sharing can be asked.
    const System::Win32::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return {};
    std::wstring resolved(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(file.get(), resolved.data(),
                                                          static_cast<DWORD>(resolved.size()),
                                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < resolved.size()) {
            resolved.resize(length);
            return withoutLongPathPrefix(resolved);
        }
        resolved.resize(length);
    }
}

// Upper case by the invariant table, not the user's language: processes of
// different users must fold a name alike, as the file system does.
std::wstring foldCase(const std::wstring& text)
{
    if (text.empty())
        return text;
    std::wstring folded(text.size(), L'\0');
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                                       static_cast<int>(text.size()), folded.data(), static_cast<int>(folded.size()),
                                       nullptr, nullptr, 0);
    if (length <= 0)
        return text;
    folded.resize(static_cast<std::size_t>(length));
    return folded;
}

} // namespace

LogMutex::LogMutex(const std::wstring& path)
    : LogMutex(Named(), logMutexName(path))
{
}

LogMutex LogMutex::forFile(const std::wstring& path)
{
    return LogMutex(Named(), fileMutexName(canonicalFoldedPath(path)));
}

LogMutex::LogMutex(Named, const std::wstring& name)
{
    std::vector<BYTE> descriptor = logMutexSecurityDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.data(), FALSE};
    handle_.reset(::CreateMutexW(&attributes, FALSE, name.c_str()));
    if (!handle_)
        throw std::runtime_error("failed to create log mutex");
}

std::wstring canonicalFoldedPath(const std::wstring& path)
{
    const std::wstring full = fullPath(path);
    std::wstring canonical = finalPath(full);
    if (canonical.empty()) {
        // No file yet (or no folder): the folder is what the file would be created in.
        const auto [folder, name] = splitFileName(full);
        const std::wstring finalFolder = folder.empty() ? std::wstring() : finalPath(std::wstring(folder));
        canonical = finalFolder.empty() ? full : joinFileName(finalFolder, name);
    }
    return foldCase(canonical);
}

} // namespace Nano
