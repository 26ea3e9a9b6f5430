#include "process_handlers.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace MonitorClient {

void ProcessHandlers::install(std::terminate_handler onTerminate, InvalidParameterHandler onInvalidParameter)
{
    if (installed_)
        return;
    terminate_ = std::set_terminate(onTerminate);
    invalidParameter_ = ::_set_invalid_parameter_handler(onInvalidParameter);
    abort_ = std::signal(SIGABRT, &ProcessHandlers::onAbortSignal);
    installed_ = true;
}

void ProcessHandlers::restore()
{
    if (!installed_)
        return;
    std::set_terminate(terminate_);
    ::_set_invalid_parameter_handler(invalidParameter_);
    std::signal(SIGABRT, abort_);
    installed_ = false;
}

void ProcessHandlers::onAbortSignal(int)
{
    ::RaiseException(kAbortExceptionCode, 0, 0, nullptr);
}

} // namespace MonitorClient
