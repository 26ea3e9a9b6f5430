#include "command_line.h"

#include "err/utf.h"

#include <boost/program_options.hpp>

#include <iostream>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace po = boost::program_options;

namespace {

// The table's name of a switch: the first "--" removed.
std::string optionName(std::string_view option)
{
    std::string name(option);
    if (const auto dashes = name.find("--"); dashes != std::string::npos)
        name.erase(dashes, 2);
    return name;
}

// Digits only, at most 4294967295: no sign, no blanks, no other base. Boost's
// own conversion takes "-1" as 4294967295 and "+1" as 1.
std::optional<std::uint32_t> unsignedDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

struct PluginIdValue {
    std::uint32_t value;
};

void validate(boost::any& result, const std::vector<std::string>& tokens, PluginIdValue*, int)
{
    po::validators::check_first_occurrence(result);
    const std::string& token = po::validators::get_single_string(tokens);
    const std::optional<std::uint32_t> id = unsignedDecimal(token);
    if (!id)
        throw po::invalid_option_value(token);
    result = PluginIdValue{*id};
}

po::options_description optionTable()
{
    namespace s = CommandLineSwitch;
    po::options_description options("options");
    options.add_options()                                                              //
        (optionName(s::pluginId).c_str(), po::value<PluginIdValue>(), "plugin id")     //
        (optionName(s::adminHost).c_str(), po::bool_switch()->default_value(false), "run as admin host") //
        (optionName(s::regServer).c_str(), po::bool_switch()->default_value(false), "register server")   //
        (optionName(s::unregServer).c_str(), po::bool_switch()->default_value(false), "unregister server") //
        (optionName(s::logPath).c_str(), po::wvalue<std::wstring>(), "log file path")                  //
        (optionName(s::disableBlackList).c_str(), po::bool_switch()->default_value(false), "disable DLL black list");
    return options;
}

CommandLineOptions parse(const std::vector<std::wstring>& arguments)
{
    namespace s = CommandLineSwitch;
    const po::options_description options = optionTable();
    po::variables_map values;
    // An empty positional description makes any positional argument an error
    // instead of a silently ignored token.
    const po::positional_options_description noPositionals;
    po::store(po::wcommand_line_parser(arguments)
                  .options(options)
                  .positional(noPositionals)
                  .style(po::command_line_style::unix_style)
                  .run(),
              values);
    po::notify(values);

    CommandLineOptions result;
    const auto flag = [&](const char* option) { return values[optionName(option)].as<bool>(); };
    result.adminHost = flag(s::adminHost);
    result.regServer = flag(s::regServer);
    result.unregServer = flag(s::unregServer);
    result.disableBlackList = flag(s::disableBlackList);
    if (values.count(optionName(s::logPath)))
        result.logPath = values[optionName(s::logPath)].as<std::wstring>();
    if (values.count(optionName(s::pluginId)))
        result.pluginId = values[optionName(s::pluginId)].as<PluginIdValue>().value;
    return result;
}

// Boost 1.74 fills the placeholders of an error's text ("%value%",
// "%canonical_option%", ...) until none is left: what() never returns when an
// argument holds the very placeholder it fills in. For an argument holding any
// of them the option is named alone.
std::string parserText(const std::exception& e, const std::vector<std::wstring>& arguments)
{
    const auto* named = dynamic_cast<const po::error_with_option_name*>(&e);
    if (named == nullptr)
        return e.what();
    for (const std::wstring& argument : arguments)
        for (const wchar_t* placeholder :
             {L"%canonical_option%", L"%option%", L"%original_token%", L"%prefix%", L"%value%"})
            if (argument.find(placeholder) != std::wstring::npos)
                return "invalid command line at '" + named->get_option_name() + "'";
    return e.what();
}

} // namespace

std::wstring quoteArgument(std::wstring_view value)
{
    // Backslashes are plain characters except before a quote: a run of them
    // before an inner quote or before the closing one is doubled, and an inner
    // quote gets one of its own.
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : value) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"')
                quoted.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, L'\\');
    return quoted + L"\"";
}

std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine)
{
    return po::split_winmain(commandLine);
}

CommandLineOptions parseCommandLine(const std::vector<std::wstring>& arguments)
{
    try {
        return parse(arguments);
    } catch (const std::exception& e) {
        std::cout << parserText(e, arguments) << std::endl;
        throw std::runtime_error("failed to parse ombrix command line");
    }
}

std::wstring composePluginHostCommandLine(std::uint32_t pluginId, const std::wstring& logPath, bool disableBlackList)
{
    namespace s = CommandLineSwitch;
    std::wstring line = Err::widenAscii(s::pluginId) + L"=" + std::to_wstring(pluginId);
    if (!logPath.empty())
        line += L" " + Err::widenAscii(s::logPath) + L"=" + quoteArgument(logPath);
    if (disableBlackList)
        line += L" " + Err::widenAscii(s::disableBlackList);
    return line;
}
