#include "log_naming.h"

namespace Nano {

std::wstring logMutexName(std::wstring_view path)
{
    const auto slash = path.rfind(L'\\');
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    return L"Local\\" + std::wstring(name);
}

std::wstring rotatedLogPath(std::wstring_view path, unsigned long tickCount, unsigned attempt)
{
    constexpr std::wstring_view extension = L".log";
    std::wstring suffix = L"_" + std::to_wstring(tickCount);
    if (attempt > 0)
        suffix += L"_" + std::to_wstring(attempt);
    suffix += extension;
    if (path.size() >= extension.size() && path.substr(path.size() - extension.size()) == extension)
        path.remove_suffix(extension.size());
    return std::wstring(path) + suffix;
}

std::wstring freeRotatedLogPath(std::wstring_view path, unsigned long tickCount,
                                const std::function<bool(const std::wstring&)>& exists)
{
    constexpr unsigned kMaxAttempts = 100;
    for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::wstring candidate = rotatedLogPath(path, tickCount, attempt);
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

} // namespace Nano
