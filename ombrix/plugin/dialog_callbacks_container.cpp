#include "dialog_callbacks_container.h"

#include <atomic>

namespace {

std::atomic<std::uint32_t> lastDialogId{0};

} // namespace

std::uint32_t DialogCallbacksContainer::add(HLXPlugins::IPluginDialogCallback* callback)
{
    const std::lock_guard lock(mutex_);
    std::uint32_t dialogId = nextDialogId();
    while (dialogId == 0 || callbacks_.contains(dialogId))
        dialogId = nextDialogId();
    callbacks_.emplace(dialogId, callback);
    return dialogId;
}

HLXPlugins::IPluginDialogCallback* DialogCallbacksContainer::find(std::uint32_t dialogId) const
{
    const std::lock_guard lock(mutex_);
    const auto found = callbacks_.find(dialogId);
    return found == callbacks_.end() ? nullptr : found->second;
}

std::uint32_t nextDialogId() noexcept
{
    return ++lastDialogId;
}

void continueDialogIdsAt(std::uint32_t next) noexcept
{
    lastDialogId = next - 1;
}
