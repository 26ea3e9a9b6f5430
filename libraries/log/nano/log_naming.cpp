#include "log_naming.h"

#include <cstdint>

namespace Nano {

std::wstring logMutexName(std::wstring_view path)
{
    const auto slash = path.rfind(L'\\');
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    return L"Local\\" + std::wstring(name);
}

std::wstring fileMutexName(std::wstring_view canonicalFoldedPath)
{
    // FNV-1a over the UTF-16 code units: two files sharing a digest would only
    // share a mutex, which costs some waiting and loses nothing.
    std::uint64_t digest = 14695981039346656037ull;
    for (const wchar_t unit : canonicalFoldedPath) {
        digest ^= static_cast<std::uint32_t>(unit);
        digest *= 1099511628211ull;
    }
    std::wstring name = L"Local\\nano-log-";
    for (int shift = 60; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(digest >> shift) & 0xF];
    return name;
}

std::wstring withoutLongPathPrefix(std::wstring_view path)
{
    constexpr std::wstring_view unc = L"\\\\?\\UNC\\";
    constexpr std::wstring_view local = L"\\\\?\\";
    if (path.substr(0, unc.size()) == unc)
        return L"\\\\" + std::wstring(path.substr(unc.size()));
    if (path.substr(0, local.size()) == local)
        return std::wstring(path.substr(local.size()));
    return std::wstring(path);
}

std::pair<std::wstring_view, std::wstring_view> splitFileName(std::wstring_view path)
{
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring_view::npos)
        return {std::wstring_view(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::wstring joinFileName(std::wstring_view folder, std::wstring_view name)
{
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path += name;
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
