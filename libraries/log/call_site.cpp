#include "call_site.h"

#include "err/utf.h"

#include <boost/format.hpp>

namespace Log {

namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

// Index of the '(' matching the ')' at `close`, or npos.
std::size_t matchingOpenParen(std::string_view text, std::size_t close)
{
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
        if (text[i] == ')')
            ++depth;
        else if (text[i] == '(' && --depth == 0)
            return i;
    }
    return std::string_view::npos;
}

// Drops the return type (and "virtual", "static"): everything up to the last
// blank that is not inside template arguments.
std::string_view withoutReturnType(std::string_view name)
{
    int angle = 0;
    for (std::size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '>')
            ++angle;
        else if (c == '<')
            --angle;
        else if (c == ' ' && angle == 0)
            return name.substr(i + 1);
    }
    return name;
}

} // namespace

std::string_view sourceFileName(std::string_view path)
{
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string qualifiedFunctionName(std::string_view signature)
{
    if (const auto with = signature.find(" [with "); with != std::string_view::npos)
        signature = signature.substr(0, with);

    // A lambda reads as its enclosing function followed by "::<lambda>".
    if (const auto lambda = signature.find("::<lambda"); lambda != std::string_view::npos)
        return qualifiedFunctionName(signature.substr(0, lambda)) + "::<lambda>";

    std::string_view name = signature;
    if (const auto close = signature.rfind(')'); close != std::string_view::npos) {
        if (const auto open = matchingOpenParen(signature, close); open != std::string_view::npos)
            name = signature.substr(0, open);
    }
    std::string result(withoutReturnType(name));
    replaceAll(result, "{anonymous}", "`anonymous-namespace'");
    return result;
}

std::wstring composeEnvelope(std::string_view file, std::string_view signature, std::uint_least32_t line,
                             std::wstring_view message)
{
    return (boost::wformat(L"%1% | %2% | %3% | %4%") % Err::widenAscii(sourceFileName(file)) %
            Err::widenAscii(qualifiedFunctionName(signature)) % line % message)
        .str();
}

std::wstring withPluginId(std::uint32_t pluginId, std::wstring_view message) noexcept
{
    try {
        return (boost::wformat(L"plugin_id: %u | %s") % pluginId % message).str();
    } catch (...) {
        // Out of memory: the line keeps its call site at least.
        return {};
    }
}

} // namespace Log
