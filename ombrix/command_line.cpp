#include "command_line.h"

#include "err/utf.h"

#include <boost/program_options.hpp>

#include <iostream>
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

po::options_description optionTable()
{
    namespace s = CommandLineSwitch;
    po::options_description options("options");
    options.add_options()                                                              //
        (optionName(s::pluginId).c_str(), po::value<unsigned long>(), "plugin id")     //
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
        result.pluginId = static_cast<std::uint32_t>(values[optionName(s::pluginId)].as<unsigned long>());
    return result;
}

} // namespace

std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine)
{
    return po::split_winmain(commandLine);
}

CommandLineOptions parseCommandLine(const std::vector<std::wstring>& arguments)
{
    try {
        return parse(arguments);
    } catch (const std::exception& e) {
        std::cout << e.what() << std::endl;
        throw std::runtime_error("failed to parse ombrix command line");
    }
}

std::wstring composePluginHostCommandLine(std::uint32_t pluginId, const std::wstring& logPath, bool disableBlackList)
{
    namespace s = CommandLineSwitch;
    std::wstring line = Err::widenAscii(s::pluginId) + L"=" + std::to_wstring(pluginId);
    if (!logPath.empty())
        line += L" " + Err::widenAscii(s::logPath) + L"=\"" + logPath + L"\"";
    if (disableBlackList)
        line += L" " + Err::widenAscii(s::disableBlackList);
    return line;
}
