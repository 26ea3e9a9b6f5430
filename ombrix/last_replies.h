#pragma once

#include <windows.h>

// Waits, serving this thread's window messages, until the replies of the
// launcher's calls on the host's object have left the process, but at most
// `limitMs`. For the end of the message loop: the quit message comes from
// inside the launcher's last call (deinitialize, deinitAdminHost).
void awaitLastReplies(DWORD limitMs) noexcept;
