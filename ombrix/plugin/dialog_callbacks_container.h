#pragma once

#include "hlx_plugins.h"

#include <cstdint>
#include <map>
#include <mutex>

// Connects a dialog id with the plug-in's callback until the launcher reports
// the dialog's end. Filled from plug-in threads while the main thread looks up:
// one mutex guards the map (lookups are rare and short, so nothing finer pays).
class DialogCallbacksContainer {
public:
    // Keeps the callback under a new id from the process-wide counter and
    // returns it. Once the counter wraps, ids still held here and 0 are
    // skipped, so that an answer never reaches another dialog's callback.
    std::uint32_t add(HLXPlugins::IPluginDialogCallback* callback);
    // The stored callback, or null. Entries stay: a dialog reported twice runs twice.
    HLXPlugins::IPluginDialogCallback* find(std::uint32_t dialogId) const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, HLXPlugins::IPluginDialogCallback*> callbacks_;
};

// The process-wide dialog id counter: 1 for the first request, then each next
// one, wrapping after 2^32 requests.
std::uint32_t nextDialogId() noexcept;
// Where the counter goes on (tests only: the wrap without 2^32 requests).
void continueDialogIdsAt(std::uint32_t next) noexcept;
