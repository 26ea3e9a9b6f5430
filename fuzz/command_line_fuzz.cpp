// The host's command line: any text splits by the Windows rules; every
// argument quoted by quoteArgument splits back to exactly itself, alone or
// among others; the parser refuses only by its one exception; the line an
// admin host composes for a plug-in host parses back to the same values; a
// plug-in id is decimal digits up to 4294967295 and nothing else.
#include "command_line.h"

#include "err/utf.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

using Fuzz::require;

void requireQuotedReadsBack(const std::wstring& value)
{
    require(splitCommandLine(quoteArgument(value)) == std::vector<std::wstring>{value},
            "a quoted value splits back into exactly that value");
}

void requireParseFailure(const std::runtime_error& e)
{
    require(std::strcmp(e.what(), "failed to parse ombrix command line") == 0,
            "the parser fails with its one message");
}

void requireComposedReadsBack(std::uint32_t pluginId, const std::wstring& logPath, bool disableBlackList)
{
    try {
        const CommandLineOptions options =
            parseCommandLine(splitCommandLine(composePluginHostCommandLine(pluginId, logPath, disableBlackList)));
        require(options.pluginId == pluginId && options.logPath == logPath &&
                    options.disableBlackList == disableBlackList && !options.adminHost && !options.regServer &&
                    !options.unregServer,
                "a composed plug-in host command line parses back to its values");
    } catch (const std::runtime_error&) {
        Fuzz::fail("a composed plug-in host command line parses");
    }
}

std::optional<std::uint32_t> decimal(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

void requirePluginIdIsDecimal(const std::wstring& value)
{
    const std::optional<std::uint32_t> expected = decimal(value);
    try {
        const CommandLineOptions options = parseCommandLine({Err::widenAscii(CommandLineSwitch::pluginId) + L"=" + value});
        require(expected && options.pluginId == expected, "a plug-in id that is not plain decimal is refused");
    } catch (const std::runtime_error& e) {
        requireParseFailure(e);
        require(!expected, "a plug-in id in plain decimal is taken");
    }
}

std::uint32_t digest(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t value = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        value = (value ^ data[i]) * 16777619u;
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::wstring line = Fuzz::TextFields(data, size).restWide();
    const std::vector<std::wstring> arguments = splitCommandLine(line);

    requireQuotedReadsBack(line);
    std::wstring joined;
    for (const std::wstring& argument : arguments) {
        requireQuotedReadsBack(argument);
        joined += (joined.empty() ? L"" : L" \t ") + quoteArgument(argument);
    }
    require(splitCommandLine(joined) == arguments, "quoted arguments joined by blanks split back into the same arguments");

    try {
        const CommandLineOptions options = parseCommandLine(arguments);
        if (options.pluginId)
            requireComposedReadsBack(*options.pluginId, options.logPath, options.disableBlackList);
    } catch (const std::runtime_error& e) {
        requireParseFailure(e);
    }

    requireComposedReadsBack(digest(data, size), line, size % 2 == 1);
    if (!arguments.empty())
        requirePluginIdIsDecimal(arguments.front());
    return 0;
}
