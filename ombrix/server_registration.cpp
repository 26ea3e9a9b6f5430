#include "server_registration.h"

#include "err/system_error.h"
#include "log/log.h"
#include "proxy_stub_manifest.h"
#include "system/win32/environment.h"
#include "system/win32/known_paths_win.h"
#include "system/win32/unique_resource.h"
#include "wait_with_messages.h"

#include <boost/format.hpp>

using System::Win32::UniqueHandle;
using System::Win32::UniqueRegKey;

namespace {

constexpr wchar_t kLauncherExecutable[] = L"tvx.exe";
constexpr wchar_t kAppIdRoot[] = L"SOFTWARE\\Classes\\AppID";

// Proxy/stub classes go to the registry only inside the mac wrapper under the
// compatibility layer, where the manifest alone does not serve.
bool proxyStubRegistrationApplies()
{
    static const bool applies = System::Env::isMacWrapper() && System::Env::isWine();
    return applies;
}

std::vector<ProxyStubEntry> manifestEntries()
{
    const HMODULE self = ::GetModuleHandleW(nullptr);
    const HRSRC resource = ::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (resource == nullptr)
        return {};
    const HGLOBAL loaded = ::LoadResource(self, resource);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return {};
    return parseProxyStubEntries(std::string_view(static_cast<const char*>(bytes), ::SizeofResource(self, resource)));
}

std::wstring classKey(const ProxyStubEntry& entry)
{
    return (boost::wformat(L"CLSID\\%1%") % entry.iid).str();
}

bool setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool createKey(HKEY parent, const std::wstring& path, REGSAM access, UniqueRegKey& key)
{
    return ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr) ==
           ERROR_SUCCESS;
}

bool registerProxyStubs(const std::wstring& proxyStubPath)
{
    if (!proxyStubRegistrationApplies())
        return true;
    for (const ProxyStubEntry& entry : manifestEntries()) {
        UniqueRegKey classKeyHandle, server;
        if (!createKey(HKEY_CLASSES_ROOT, classKey(entry), KEY_READ | KEY_WRITE, classKeyHandle) ||
            !setString(classKeyHandle.get(), nullptr, entry.name) ||
            !createKey(classKeyHandle.get(), L"InprocServer32", KEY_READ | KEY_WRITE, server) ||
            !setString(server.get(), nullptr, proxyStubPath) ||
            !setString(server.get(), L"ThreadingModel", entry.threadingModel))
            return false;
    }
    return true;
}

void unregisterProxyStubs()
{
    if (!proxyStubRegistrationApplies())
        return;
    for (const ProxyStubEntry& entry : manifestEntries())
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey(entry).c_str());
}

bool registerApplicationId()
{
    const std::wstring root = kAppIdRoot;
    UniqueRegKey appId, executable;
    return createKey(HKEY_LOCAL_MACHINE, root + L"\\" + kApplicationId, KEY_WRITE, appId) &&
           setString(appId.get(), L"RunAs", L"Interactive User") &&
           createKey(HKEY_LOCAL_MACHINE, root + L"\\" + kLauncherExecutable, KEY_WRITE, executable) &&
           setString(executable.get(), L"AppID", kApplicationId);
}

bool deleteAppIdSubkey(const wchar_t* name)
{
    UniqueRegKey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppIdRoot, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                        root.put()) != ERROR_SUCCESS)
        return false;
    return ::RegDeleteKeyW(root.get(), name) == ERROR_SUCCESS;
}

bool unregisterApplicationId()
{
    return deleteAppIdSubkey(kApplicationId) && deleteAppIdSubkey(kLauncherExecutable);
}

// Tells whoever started the registration that it is done, and waits (serving
// COM calls meanwhile) for the acknowledgement.
bool completeHandshake()
{
    const UniqueHandle started(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kRegistrationStartedEvent));
    if (!started) {
        HOST_LOG(LogLevel::Warning, L"failed to open named event %s to synchronize", kRegistrationStartedEvent);
        return false;
    }
    const UniqueHandle acknowledged(::CreateEventW(nullptr, FALSE, FALSE, kRegistrationAcknowledgedEvent));
    if (!acknowledged)
        throw Err::SystemError(HRESULT_FROM_WIN32(::GetLastError()), "failed to create named event");
    if (!::SetEvent(started.get()))
        HOST_LOG(LogLevel::Error, L"failed to set named event %s to inform about register finish",
                 kRegistrationStartedEvent);
    return waitWithMessages(acknowledged.get()) == 0;
}

} // namespace

bool registerServer(bool perUser)
{
    const std::wstring proxyStubPath = (System::Env::KnownPaths::applicationDirectory() / L"ombrixPS.dll").str();
    if (!registerProxyStubs(proxyStubPath))
        return false;
    if (!perUser && !registerApplicationId())
        return false;
    HOST_LOG(LogLevel::Info, L"plugin sys COM server was successfully registered, as admin: %s",
             perUser ? L"false" : L"true");
    return completeHandshake();
}

bool unregisterServer(bool perUser)
{
    unregisterProxyStubs();
    return perUser || unregisterApplicationId();
}
