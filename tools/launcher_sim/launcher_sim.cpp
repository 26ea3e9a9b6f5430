// launcher-sim: stands in for the launcher. A real COM server in the Running
// Object Table (IPluginSystem, and an IUpdatePluginEvents sink), which starts
// ombrix.exe, plays the other side of the registration handshake and writes a
// transcript of every call it receives or makes. A session is a list of steps:
//
//   publish first|second       publish the plug-in system under an item name
//   serve MS                   serve COM calls for MS milliseconds
//   serve-until EVENT          serve COM calls until the named event is set
//   run-host ARGS...           start ombrix.exe with ARGS; hosts that still run stay
//                              in the session with the plug-ins they registered
//   expect-exit CODE           serve calls until every host ends; check each exit code
//   registration ARGS...       start ombrix.exe with ARGS as the registration's peer:
//                              create the started event, acknowledge when it is set
//   call-events ITEM           call every IUpdatePluginEvents operation on the
//                              object published under ITEM
//   publish-events ITEM        publish the launcher's events sink under ITEM, for
//                              callers that play the host's side themselves
//   await-plugin               serve calls until the host registered its plug-in
//   call OP [ARGS] [=> RESULT [TEXT]]
//                              call IUpdatePlugin::OP on the registered plug-in
//                              (name, description, versionString, error,
//                              getAdditionalProp NAME, setAdditionalProp NAME VALUE,
//                              start [(null)], stop FORCE, deinitialize,
//                              onDialogFinish ID EVENT); check the result ("failed"
//                              for any failure) and the text
//   call-first OP ...          the same on the first plug-in registered since the
//                              host started (an admin host may start several)
//   call-each OP ...           the same on every plug-in registered, in turn
//   await-progress             serve calls until the plug-in reported onProgress
//   await-finish               serve calls until every plug-in registered reported
//                              onFinish
//   await-admin-host           serve calls until the host registered as admin host
//   admin OP [ARGS] [=> RESULT [TEXT]]
//                              call IAdminHostProcess::OP (startElevated API ID,
//                              startElevatedProcess EXE ARGS, deinitAdminHost)
//   await-closed ID CODE       serve calls until ombrixClosed(ID, CODE) arrived
//   resources                  write the simulator's own handle count and private
//                              bytes: "resources: handles N, private bytes M"
//
// Every call into the host and every await has the --call-limit; a call that
// exceeds it is named in the transcript and the hosts are ended.
//
// --plugin=PATH runs an author's DLL through a whole session instead: a host for
// plug-in id 1, the text operations, start, serving until onFinish (dialogs are
// answered with their first button), deinitialize, exit code 0.
#include "call_watchdog.h"
#include "err/utf.h"
#include "events_sink.h"
#include "plugin_calls.h"
#include "plugin_system.h"
#include "process_resources.h"
#include "running_object.h"
#include "server_registration.h"
#include "system/win32/com_scope.h"
#include "system/win32/known_paths_win.h"
#include "system/win32/unique_resource.h"
#include "wait_with_messages.h"

#include <boost/program_options.hpp>

#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace po = boost::program_options;
using Microsoft::WRL::ComPtr;
using System::Win32::UniqueBstr;
using System::Win32::UniqueHandle;

namespace LauncherSim {
namespace {

constexpr DWORD kStepLimitMs = 60000;
constexpr DWORD kDefaultCallLimitMs = 30000;

// Waits for any of `handles` while serving this apartment's COM calls. The
// index of the signalled handle, or WAIT_TIMEOUT.
DWORD waitAny(const std::vector<HANDLE>& handles, DWORD limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    const auto count = static_cast<DWORD>(handles.size());
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return WAIT_TIMEOUT;
        const DWORD which =
            ::MsgWaitForMultipleObjects(count, handles.data(), FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
        if (which < WAIT_OBJECT_0 + count)
            return which - WAIT_OBJECT_0;
        if (which != WAIT_OBJECT_0 + count)
            return WAIT_TIMEOUT;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

std::wstring join(const std::vector<std::wstring>& words, std::size_t from)
{
    std::wstring text;
    for (std::size_t i = from; i < words.size(); ++i)
        text += (i > from ? L" " : L"") + words[i];
    return text;
}

class Session {
public:
    Session(SimConfig config, Transcript& transcript, std::wstring hostPath, DWORD callLimitMs)
        : config_(std::move(config))
        , transcript_(transcript)
        , hostPath_(std::move(hostPath))
        , callLimitMs_(callLimitMs)
        , watchdog_(transcript, std::chrono::milliseconds(callLimitMs))
    {
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A host that outlives a failed session would serve nobody.
    ~Session()
    {
        for (const UniqueHandle& host : hosts_)
            if (::WaitForSingleObject(host.get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(host.get(), kHungHostExitCode);
                transcript_.line(L"ended the host that was still running");
            }
    }

    // Runs one step; false when it did not do what it should.
    bool run(const std::wstring& step)
    {
        const std::vector<std::wstring> words = po::split_winmain(step);
        if (words.empty())
            return true;
        transcript_.line(L"step: " + step);
        const std::wstring& verb = words[0];
        const std::wstring rest = join(words, 1);
        if (verb == L"publish" && words.size() == 2)
            return publish(words[1]);
        if (verb == L"serve" && words.size() == 2)
            return serve(nullptr, static_cast<DWORD>(std::stoul(words[1])));
        if (verb == L"serve-until" && words.size() == 2) {
            const UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, words[1].c_str()));
            return serve(event.get(), 120000);
        }
        if (verb == L"run-host")
            return startHost(rest);
        if (verb == L"expect-exit" && words.size() == 2)
            return expectExit(std::stoul(words[1]));
        if (verb == L"registration")
            return registration(rest);
        if (verb == L"call-events" && words.size() == 2)
            return callEvents(words[1]);
        if (verb == L"publish-events" && words.size() == 2)
            return publishEvents(words[1]);
        if (verb == L"await-plugin" && words.size() == 1) {
            const bool registered = await(state_.pluginRegistered.get(), L"the host registered no plug-in");
            ::ResetEvent(state_.pluginRegistered.get());
            return registered;
        }
        if (verb == L"await-progress" && words.size() == 1)
            return await(state_.pluginProgressed.get(), L"the plug-in reported no progress");
        if (verb == L"await-finish" && words.size() == 1)
            return awaitFinish();
        if ((verb == L"call" || verb == L"call-first" || verb == L"call-each") && words.size() >= 2)
            return callPlugins(std::vector<std::wstring>(words.begin() + 1, words.end()), verb);
        if (verb == L"await-admin-host" && words.size() == 1)
            return await(state_.adminHostRegistered.get(), L"the host registered no admin host");
        if (verb == L"admin" && words.size() >= 2)
            return callAdminHost(std::vector<std::wstring>(words.begin() + 1, words.end()));
        if (verb == L"await-closed" && words.size() == 3)
            return awaitClosed(std::stoul(words[1]), std::stoul(words[2]));
        if (verb == L"resources" && words.size() == 1)
            return resources();
        transcript_.line(L"unknown step");
        return false;
    }

private:
    bool publish(const std::wstring& which)
    {
        const wchar_t* name = which == L"first" ? kLauncherItemName : which == L"second" ? kLauncherFallbackItemName : nullptr;
        if (name == nullptr)
            return false;
        ComPtr<IPluginSystem> system;
        system = PluginSystem::create<PluginSystem>(config_, transcript_, state_);
        const HRESULT hr = published_.publish(system.Get(), name);
        transcript_.line(L"published IPluginSystem as !" + std::wstring(name) + L" -> " + hresultText(hr));
        return SUCCEEDED(hr);
    }

    bool publishEvents(const std::wstring& item)
    {
        const HRESULT hr = publishedEvents_.publish(sink(), item.c_str());
        transcript_.line(L"published IUpdatePluginEvents as !" + item + L" -> " + hresultText(hr));
        return SUCCEEDED(hr);
    }

    IUpdatePluginEvents* sink()
    {
        if (!sink_)
            sink_ = EventsSink::create<EventsSink>(config_, transcript_, state_);
        return sink_.Get();
    }

    std::vector<HANDLE> hostHandles() const
    {
        std::vector<HANDLE> handles;
        for (const UniqueHandle& host : hosts_)
            handles.push_back(host.get());
        return handles;
    }

    // Serves calls until `event` is set; fails when a host ends first or time runs out.
    bool await(HANDLE event, const wchar_t* failure)
    {
        return awaitUntil(event, [event] { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, failure);
    }

    // Serves calls until `done` holds, asked again each time `event` is set.
    template <typename Done>
    bool awaitUntil(HANDLE event, Done done, const wchar_t* failure)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(callLimitMs_);
        std::vector<HANDLE> handles{event};
        const std::vector<HANDLE> hosts = hostHandles();
        handles.insert(handles.end(), hosts.begin(), hosts.end());
        while (!done()) {
            // Calls are served on this thread only, so nothing sets the event
            // between the reset and the wait.
            ::ResetEvent(event);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const DWORD which = left.count() > 0 ? waitAny(handles, static_cast<DWORD>(left.count())) : WAIT_TIMEOUT;
            if (which != 0) {
                transcript_.line(std::wstring(failure) + (which == WAIT_TIMEOUT
                                                              ? L" within " + std::to_wstring(callLimitMs_) + L" ms"
                                                              : L": the host ended"));
                return false;
            }
        }
        return true;
    }

    // Until every plug-in registered has reported its finish (any one when none is).
    bool awaitFinish()
    {
        const auto everyOneFinished = [this] {
            const auto& finished = state_.finishedIds;
            const auto& registered = state_.registeredIds;
            return !finished.empty() && std::includes(finished.begin(), finished.end(), registered.begin(), registered.end());
        };
        return awaitUntil(state_.pluginFinished.get(), everyOneFinished, L"the plug-in reported no finish");
    }

    // call OP ARGS... [=> RESULT [TEXT]] on the latest plug-in, the first one or
    // each in turn; the same with admin for the admin host.
    bool callPlugins(const std::vector<std::wstring>& words, const std::wstring& verb)
    {
        // A copy: a host may register another plug-in while we call.
        const std::vector<ComPtr<IUpdatePlugin>> plugins = state_.plugins;
        std::vector<IUpdatePlugin*> targets;
        if (verb == L"call-each")
            for (const auto& plugin : plugins)
                targets.push_back(plugin.Get());
        else
            targets.push_back(plugins.empty() ? nullptr : verb == L"call-first" ? plugins.front().Get() : plugins.back().Get());
        if (targets.empty())
            targets.push_back(nullptr);
        for (IUpdatePlugin* target : targets)
            if (!call(words, L"IUpdatePlugin", findPluginOperation(words[0]), target,
                      [this](const PluginOperation& operation, IUpdatePlugin& plugin,
                             const std::vector<std::wstring>& arguments) { return operation.call(plugin, sink(), arguments); }))
                return false;
        return true;
    }

    bool callAdminHost(const std::vector<std::wstring>& words)
    {
        return call(words, L"IAdminHostProcess", findAdminOperation(words[0]), state_.adminHost.Get(),
                    [](const AdminOperation& operation, IAdminHostProcess& adminHost,
                       const std::vector<std::wstring>& arguments) { return operation.call(adminHost, arguments); });
    }

    template <typename Operation, typename Target, typename Invoke>
    bool call(std::vector<std::wstring> words, const wchar_t* interfaceName, const Operation* operation, Target* target,
              Invoke invoke)
    {
        std::vector<std::wstring> expected;
        if (const auto arrow = std::find(words.begin(), words.end(), L"=>"); arrow != words.end()) {
            expected.assign(arrow + 1, words.end());
            words.erase(arrow, words.end());
        }
        const std::vector<std::wstring> arguments(words.begin() + 1, words.end());
        // "failed" accepts any failure: also COM's own when the host ended during the call.
        const bool expectFailure = !expected.empty() && expected[0] == L"failed";
        const bool checkResult = !expected.empty() && !expectFailure;
        HRESULT wanted = S_OK;
        if (operation == nullptr || arguments.size() < operation->minArguments ||
            arguments.size() > operation->maxArguments || expected.size() > 2 ||
            (checkResult && !parseResult(expected[0], wanted))) {
            transcript_.line(L"unknown operation or wrong arguments");
            return false;
        }
        if (target == nullptr) {
            transcript_.line(std::wstring(L"no ") + interfaceName + L" is registered");
            return false;
        }
        std::wstring shown;
        for (const std::wstring& argument : arguments)
            shown += (shown.empty() ? L"" : L", ") + argument;
        watchdog_.arm(operation->name, hostHandles());
        const CallOutcome outcome = invoke(*operation, *target, arguments);
        watchdog_.disarm();
        std::wstring line = std::wstring(interfaceName) + L"::" + operation->name + L"(" + shown + L") -> " +
                            hresultText(outcome.result);
        if (outcome.text)
            line += L" \"" + *outcome.text + L"\"";
        transcript_.line(line);
        if (expectFailure && SUCCEEDED(outcome.result)) {
            transcript_.line(L"expected a failure");
            return false;
        }
        if (checkResult && wanted != outcome.result) {
            transcript_.line(L"expected " + hresultText(wanted));
            return false;
        }
        if (expected.size() == 2 && outcome.text != expected[1]) {
            transcript_.line(L"expected the text \"" + expected[1] + L"\"");
            return false;
        }
        return true;
    }

    // Serves calls until the admin host reports the end of the host for `pluginId`.
    bool awaitClosed(ULONG pluginId, ULONG exitCode)
    {
        for (;;) {
            auto& closed = state_.closedHosts;
            const auto report =
                std::find_if(closed.begin(), closed.end(), [&](const auto& entry) { return entry.first == pluginId; });
            if (report != closed.end()) {
                const ULONG code = report->second;
                closed.erase(report);
                if (code != exitCode)
                    transcript_.line(L"expected the exit code " + std::to_wstring(exitCode));
                return code == exitCode;
            }
            if (waitAny({state_.hostClosed.get()}, callLimitMs_) != 0) {
                transcript_.line(L"no ombrixClosed for plug-in " + std::to_wstring(pluginId) + L" within " +
                                 std::to_wstring(callLimitMs_) + L" ms");
                return false;
            }
        }
    }

    bool serve(HANDLE until, DWORD milliseconds)
    {
        if (until == nullptr) {
            const UniqueHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
            return waitWithMessages(never.get(), milliseconds) == static_cast<int>(WAIT_TIMEOUT);
        }
        return waitWithMessages(until, milliseconds) == 0;
    }

    bool resources()
    {
        const std::optional<ProcessResources> own = ownResources();
        transcript_.line(own ? resourcesLine(*own) : L"cannot read the simulator's resources");
        return own.has_value();
    }

    bool startHost(const std::wstring& arguments)
    {
        std::wstring commandLine = L"\"" + hostPath_ + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        const auto started = Transcript::Clock::now();
        if (!::CreateProcessW(hostPath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info)) {
            transcript_.line(L"cannot start the host: error " + std::to_wstring(::GetLastError()));
            return false;
        }
        const UniqueHandle thread(info.hThread);
        UniqueHandle host(info.hProcess);
        std::erase_if(hosts_, [](const UniqueHandle& h) { return ::WaitForSingleObject(h.get(), 0) != WAIT_TIMEOUT; });
        // The first host of a session registers the first plug-in of it.
        if (hosts_.empty()) {
            state_.plugins.clear();
            state_.registeredIds.clear();
            state_.finishedIds.clear();
            ::ResetEvent(state_.pluginFinished.get());
        }
        ::ResetEvent(state_.pluginRegistered.get());
        hosts_.push_back(std::move(host));
        transcript_.line(L"started ombrix.exe " + arguments, started);
        return true;
    }

    bool expectExit(unsigned long expected)
    {
        if (hosts_.empty()) {
            transcript_.line(L"the host did not end");
            return false;
        }
        bool asExpected = true;
        for (const UniqueHandle& host : hosts_) {
            if (waitWithMessages(host.get(), kStepLimitMs) != 0) {
                transcript_.line(L"the host did not end");
                return false;
            }
            DWORD code = 0;
            ::GetExitCodeProcess(host.get(), &code);
            transcript_.line(L"host exited with " + std::to_wstring(code));
            asExpected = asExpected && code == expected;
        }
        hosts_.clear();
        return asExpected;
    }

    bool registration(const std::wstring& arguments)
    {
        const UniqueHandle started(::CreateEventW(nullptr, TRUE, FALSE, kRegistrationStartedEvent));
        if (!started || !startHost(arguments))
            return false;
        const HANDLE either[] = {started.get(), hosts_.back().get()};
        const DWORD which = ::WaitForMultipleObjects(2, either, FALSE, kStepLimitMs);
        if (which != WAIT_OBJECT_0) {
            transcript_.line(L"the host ended or timed out before it signalled the registration");
            return false;
        }
        transcript_.line(L"registration started event signalled by the host");
        const UniqueHandle acknowledged(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kRegistrationAcknowledgedEvent));
        const bool set = acknowledged && ::SetEvent(acknowledged.get());
        transcript_.line(set ? L"registration acknowledged" : L"cannot acknowledge the registration");
        return set;
    }

    bool callEvents(const std::wstring& item)
    {
        ComPtr<IUnknown> object;
        HRESULT hr = lookupRunningObject(::SysAllocString(item.c_str()), &object);
        ComPtr<IUpdatePluginEvents> events;
        if (SUCCEEDED(hr))
            hr = object.As(&events);
        if (FAILED(hr)) {
            transcript_.line(L"no IUpdatePluginEvents under !" + item + L" -> " + hresultText(hr));
            return false;
        }
        const auto made = [this](const std::wstring& call, HRESULT result) {
            transcript_.line(L"called IUpdatePluginEvents::" + call + L" -> " + hresultText(result));
        };
        made(L"onStart(1)", events->onStart(1));
        for (long value : {0L, 50L, 100L, -1L})
            made(L"onProgress(1, " + std::to_wstring(value) + L")", events->onProgress(1, value));
        made(L"onStatusInfo(1, (null))", events->onStatusInfo(1, nullptr));
        for (const wchar_t* text : {L"", L"Downloading J\u00e4ger \u65e5\u672c"}) {
            const UniqueBstr info(::SysAllocString(text));
            made(L"onStatusInfo(1, " + quoted(info.get()) + L")", events->onStatusInfo(1, info.get()));
        }
        const UniqueBstr embedded(::SysAllocStringLen(L"a\0b", 3));
        made(L"onStatusInfo(1, \"a\\0b\")", events->onStatusInfo(1, embedded.get()));
        made(L"onFinish(1, true)", events->onFinish(1, VARIANT_TRUE));
        made(L"onFinish(1, false)", events->onFinish(1, VARIANT_FALSE));
        return true;
    }

    SimConfig config_;
    Transcript& transcript_;
    std::wstring hostPath_;
    DWORD callLimitMs_;
    CallWatchdog watchdog_;
    SessionState state_;
    ComPtr<IUpdatePluginEvents> sink_;
    RunningObjectRegistration published_;
    RunningObjectRegistration publishedEvents_;
    std::vector<UniqueHandle> hosts_; // started in this session, the latest last
};

HRESULT parseHresult(const std::wstring& text)
{
    return static_cast<HRESULT>(std::stoul(text, nullptr, 0));
}

// The author's session: where the host's log goes, and the steps.
std::vector<std::wstring> authorSession(const std::filesystem::path& plugin, SimConfig& config,
                                        const std::filesystem::path& log)
{
    config.workDir = plugin.parent_path().wstring();
    config.pluginPath = plugin.filename().wstring();
    return {L"publish first",
            L"run-host --plugin-id=1 --logpath=\"" + log.wstring() + L"\"",
            L"await-plugin",
            L"call name => S_OK",
            L"call description => S_OK",
            L"call versionString => S_OK",
            L"call start => S_OK",
            L"await-finish",
            L"call deinitialize => S_OK",
            L"expect-exit 0"};
}

std::filesystem::path authorLogPath()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path folder =
        std::filesystem::path(std::wstring(temp, length)) / L"launcher-sim";
    std::filesystem::create_directories(folder);
    return folder / (L"ombrix-" + std::to_wstring(::GetCurrentProcessId()) + L".log");
}

} // namespace
} // namespace LauncherSim

int wmain(int argc, wchar_t** argv)
{
    using namespace LauncherSim;
    SimConfig config;
    std::wstring transcriptPath, scenarioPath, hostPath, pluginDll;
    DWORD callLimitMs = kDefaultCallLimitMs;
    std::vector<std::wstring> steps, failures;
    po::options_description options("launcher-sim");
    options.add_options()("transcript", po::wvalue(&transcriptPath), "append the transcript to this file")
        ("echo", "also print the transcript")
        ("timestamps", "start each line of the transcript file with the milliseconds since the simulator began")
        ("host", po::wvalue(&hostPath), "ombrix.exe to start (default: beside launcher-sim.exe)")
        ("language", po::wvalue<std::wstring>(), "answer of language")
        ("plugin-path", po::wvalue<std::wstring>(), "answer of getPluginPath")
        ("work-dir", po::wvalue<std::wstring>(), "answer of getGameWorkDir")
        ("installation-id", po::wvalue<std::wstring>(), "answer of installationId")
        ("main-window", po::value<long long>(&config.mainWindow), "answer of mainWindow")
        ("dialog-event", po::value<long>(), "answer each showDialogEx with onDialogFinish(dialog id, this event id)")
        ("fail", po::wvalue(&failures)->composing(), "OPERATION=HRESULT: answer OPERATION with this failure")
        ("scenario", po::wvalue(&scenarioPath), "file of steps, one per line")
        ("step", po::wvalue(&steps)->composing(), "one step (repeatable)")
        ("call-limit", po::value<DWORD>(&callLimitMs), "milliseconds a call into the host or an await may take")
        ("plugin", po::wvalue(&pluginDll), "run this plug-in DLL through a whole session and print what happened");
    try {
        po::variables_map values;
        po::store(po::wcommand_line_parser(argc, argv).options(options).run(), values);
        po::notify(values);
        if (values.count("language")) config.language = values["language"].as<std::wstring>();
        if (values.count("plugin-path")) config.pluginPath = values["plugin-path"].as<std::wstring>();
        if (values.count("work-dir")) config.workDir = values["work-dir"].as<std::wstring>();
        if (values.count("dialog-event")) config.dialogEvent = values["dialog-event"].as<long>();
        if (values.count("installation-id")) config.installationId = values["installation-id"].as<std::wstring>();
        for (const std::wstring& failure : failures) {
            const auto equals = failure.find(L'=');
            if (equals == std::wstring::npos)
                throw std::invalid_argument("--fail needs OPERATION=HRESULT");
            config.failures[failure.substr(0, equals)] = parseHresult(failure.substr(equals + 1));
        }
        if (!scenarioPath.empty()) {
            std::ifstream file{std::filesystem::path(scenarioPath)};
            if (!file)
                throw std::invalid_argument("cannot read the scenario file");
            std::vector<std::wstring> fromFile;
            for (std::string line; std::getline(file, line);) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (!line.empty() && line[0] != '#')
                    fromFile.push_back(Err::fromUtf8(line));
            }
            steps.insert(steps.begin(), fromFile.begin(), fromFile.end());
        }
        if (hostPath.empty())
            hostPath = (System::Env::KnownPaths::applicationDirectory() / L"ombrix.exe").str();
        std::filesystem::path authorLog;
        if (!pluginDll.empty()) {
            authorLog = authorLogPath();
            steps = authorSession(std::filesystem::absolute(pluginDll), config, authorLog);
        }
        const ComScope apartment;
        const Transcript::Echo echo = !pluginDll.empty()       ? Transcript::Echo::ForAuthors
                                      : values.count("echo") > 0 ? Transcript::Echo::AsIs
                                                                 : Transcript::Echo::None;
        Transcript transcript(transcriptPath, echo, values.count("timestamps") > 0);
        bool passed = true;
        {
            Session session(config, transcript, hostPath, callLimitMs);
            for (const std::wstring& step : steps)
                if (!session.run(step)) {
                    transcript.line(L"step failed: " + step);
                    passed = false;
                    break;
                }
        }
        if (passed)
            transcript.line(L"all steps done");
        if (!pluginDll.empty()) {
            std::wcout << (passed ? L"PASSED: the plug-in went through a whole session\n"
                                  : L"FAILED: the session stopped at the step above\n")
                       << L"host log: " << authorLog.wstring() << L"\n";
            std::wcout.flush();
        }
        return passed ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "launcher-sim: " << e.what() << "\n" << options;
        return 2;
    }
}
