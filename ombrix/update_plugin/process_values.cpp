#include "process_values.h"

namespace UpdatePluginProcess {

std::atomic<std::uint32_t> mainThreadId{0};
std::mutex processWaitLock;
bool pluginObjectsReleased = false;
CallGate mainThreadCalls;

} // namespace UpdatePluginProcess
