#pragma once

// Writes the host's COM registration (per user, or for the machine) and completes
// the handshake with the process that asked for it. False on failure.
bool registerServer(bool perUser);

// Removes what registerServer wrote. False on failure.
bool unregisterServer(bool perUser);
