#pragma once

#include <functional>

// Work that other threads hand to the main thread, where every call into the
// plug-in is made. A message-only window of the main thread carries it: COM's
// wait for an outgoing call dispatches window messages but drops thread
// messages, so a task posted to the thread could be lost in such a wait.
namespace MainThreadTasks {

// On the main thread, before any other thread may post.
void install() noexcept;

// Any thread. False when the task could not be handed over (no window yet,
// no memory): the caller must not count on it.
bool post(std::function<void()> task) noexcept;

} // namespace MainThreadTasks
