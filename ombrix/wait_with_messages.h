#pragma once

#include <windows.h>

inline constexpr DWORD kWaitWithMessagesLimitMs = 120000;

// Waits for `handle` at most two minutes while dispatching the thread's window
// messages, so COM calls into this apartment are served meanwhile.
// 0: signalled; 258 (WAIT_TIMEOUT): time ran out; -1: null handle or failed wait.
int waitWithMessages(HANDLE handle, DWORD limitMs = kWaitWithMessagesLimitMs);
