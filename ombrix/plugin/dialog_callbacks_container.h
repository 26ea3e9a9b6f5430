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
    // An id already present keeps its first callback.
    void add(std::uint32_t dialogId, HLXPlugins::IPluginDialogCallback* callback);
    // The stored callback, or null. Entries stay: a dialog reported twice runs twice.
    HLXPlugins::IPluginDialogCallback* find(std::uint32_t dialogId) const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, HLXPlugins::IPluginDialogCallback*> callbacks_;
};

// The process-wide dialog id counter: 1 for the first request, unique after.
std::uint32_t nextDialogId() noexcept;
