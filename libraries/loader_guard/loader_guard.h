#pragma once

#include <functional>

// Told why the guard could not be installed: a message and a code.
using LoaderGuardFailureCallback = std::function<void(const char* message, int code)>;

// Makes every LoadLibrary entry point of this process refuse the DLLs of the
// block list. Runs once, on the main thread, before other threads start.
int installLoaderGuard(LoaderGuardFailureCallback onFailure);
