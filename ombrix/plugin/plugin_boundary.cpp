#include "plugin_boundary.h"

#include "err/utf.h"

#include <new>
#include <stdexcept>
#include <string>

namespace PluginBoundary {

void logFailure(std::uint32_t pluginId, std::exception_ptr failure, const std::source_location& where) noexcept
{
    try {
        std::wstring what;
        try {
            std::rethrow_exception(failure);
        } catch (const std::bad_alloc&) {
            what = L"out of memory";
        } catch (const std::exception& e) {
            what = Err::fromUtf8(e.what());
        } catch (...) {
            what = L"unknown exception";
        }
        logAt(where, LogLevel::Error, pluginId, L"error: %s", what.c_str());
    } catch (...) {
        // Out of memory while describing the failure: the result still goes back.
    }
}

} // namespace PluginBoundary
