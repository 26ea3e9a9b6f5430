#pragma once

// Named events of the registration handshake: the party that starts the
// registration creates the first and waits for it; the host then waits for the second.
inline constexpr wchar_t kRegistrationStartedEvent[] = L"E7932CE2-CC1F-4B97-98CA-1C06EDDD3F71";
inline constexpr wchar_t kRegistrationAcknowledgedEvent[] = L"CF65E0DF-C456-48D6-917D-C3061502981D";

inline constexpr wchar_t kApplicationId[] = L"{50F0F57E-A2A7-40DB-9271-20C71046A9A7}";

// Writes the host's COM registration (per user, or for the machine) and completes
// the handshake with the process that asked for it. False on failure.
bool registerServer(bool perUser);

// Removes what registerServer wrote. False on failure.
bool unregisterServer(bool perUser);
