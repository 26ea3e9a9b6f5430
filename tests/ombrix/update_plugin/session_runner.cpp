#include "session_runner.h"

#include <fstream>

namespace PluginSessions {

using namespace TestSupport;

unsigned long SessionRunner::runSession(const SessionCase& session)
{
    return runProgram(binDirectory() / L"launcher-sim.exe", simulatorArguments(session), nullptr, session.environment)
        .exitCode;
}

System::Win32::UniqueHandle SessionRunner::startSession(const SessionCase& session)
{
    return startProgram(binDirectory() / L"launcher-sim.exe", simulatorArguments(session), session.environment);
}

std::wstring SessionRunner::simulatorArguments(const SessionCase& session)
{
    // Every test plug-in keeps its diary of the host's calls beside the log.
    ::SetEnvironmentVariableW(L"TEST_PLUGIN_DIARY", diary_.c_str());
    const std::wstring kind = session.plugin;
    const std::wstring plugin = kind.ends_with(L".dll") ? kind : L"test_plugin_" + kind + L".dll";
    std::wofstream scenario(scenario_);
    scenario << session.publish << L"\n";
    for (const std::wstring& step : withHostStart({session.start}))
        scenario << step << L"\n";
    for (const std::wstring& step : withHostStart(session.steps))
        scenario << step << L"\n";
    scenario.close();
    return L"--transcript=\"" + transcript_.wstring() + L"\" --scenario=\"" + scenario_.wstring() + L"\" --plugin-path=" +
           plugin + L" --work-dir=\"" + binDirectory().wstring() + L"\" " + session.options;
}

std::wstring SessionRunner::runHostStep(unsigned pluginId) const
{
    return L"run-host --plugin-id=" + std::to_wstring(pluginId) + L" --logpath=\"" + log_.wstring() + L"\"";
}

std::vector<std::wstring> SessionRunner::withHostStart(std::vector<std::wstring> steps) const
{
    for (std::wstring& step : steps) {
        if (step == kRunHost)
            step = runHostStep(1);
        else if (step == kRunAdminHost)
            step = L"run-host --adminhost --logpath=\"" + log_.wstring() + L"\"";
        if (const auto bin = step.find(L"{bin}"); bin != std::wstring::npos)
            step.replace(bin, 5, binDirectory().wstring());
    }
    return steps;
}

std::string SessionRunner::dump(std::size_t lastLines) const
{
    const auto tail = [lastLines](const std::vector<std::string>& lines) {
        std::string text;
        for (std::size_t i = lines.size() > lastLines ? lines.size() - lastLines : 0; i < lines.size(); ++i)
            text += lines[i] + "\n";
        return text;
    };
    return "\n--- transcript:\n" + tail(readTextLines(transcript_)) + "--- host log:\n" + tail(readLogMessages(log_)) +
           "--- plug-in diary:\n" + tail(readTextLines(diary_));
}

} // namespace PluginSessions
