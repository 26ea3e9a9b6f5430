#include "last_replies.h"

#include "ombrix_interfaces.h"
#include "system/win32/unique_resource.h"

#include <rpc.h>

#include <chrono>

namespace {

// Windows sends the reply of an apartment's call before the call returns to
// the message loop. Wine sends it afterwards, from the RPC thread that
// received the call, and an end of the process in between would cut it off:
// the launcher would see its deinitialize fail although the host did its work.
// The RPC runtime counts each interface's calls until their replies are sent,
// and unregistering an interface with waiting returns once that count is
// zero; COM registers one such interface per interface identifier it serves.
DWORD WINAPI unregisterWaitingForCalls(void*)
{
    for (const IID& iid : {__uuidof(IUpdatePlugin), __uuidof(IAdminHostProcess), __uuidof(IPluginSystemEvents)}) {
        RPC_SERVER_INTERFACE served{};
        served.Length = sizeof(served);
        served.InterfaceId.SyntaxGUID = iid;
        // Nothing to wait for where COM never served it, or serves it another way.
        static_cast<void>(::RpcServerUnregisterIf(&served, nullptr, TRUE));
    }
    return 0;
}

} // namespace

void awaitLastReplies(DWORD limitMs) noexcept
{
    // Its own thread: a call still waiting for this apartment would never
    // complete unless this thread goes on serving messages meanwhile.
    const System::Win32::UniqueHandle unregistering(
        ::CreateThread(nullptr, 0, unregisterWaitingForCalls, nullptr, 0, nullptr));
    if (!unregistering)
        return;
    const HANDLE handle = unregistering.get();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 ||
            ::MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(left), QS_ALLINPUT) != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}
