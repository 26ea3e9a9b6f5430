#pragma once

// True when the current thread's token is a member of the built-in
// Administrators group. Throws when the membership cannot be checked.
bool isAppRunningInAdminMode();
