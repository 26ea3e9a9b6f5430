#include "dialog_callbacks_container.h"

#include <atomic>

void DialogCallbacksContainer::add(std::uint32_t dialogId, HLXPlugins::IPluginDialogCallback* callback)
{
    const std::lock_guard lock(mutex_);
    callbacks_.emplace(dialogId, callback);
}

HLXPlugins::IPluginDialogCallback* DialogCallbacksContainer::find(std::uint32_t dialogId) const
{
    const std::lock_guard lock(mutex_);
    const auto found = callbacks_.find(dialogId);
    return found == callbacks_.end() ? nullptr : found->second;
}

std::uint32_t nextDialogId() noexcept
{
    static std::atomic<std::uint32_t> counter{0};
    return ++counter;
}
