// launcher-sim: stands in for the launcher. A real COM server in the Running
// Object Table (IPluginSystem, and an IUpdatePluginEvents sink), which starts
// ombrix.exe, plays the other side of the registration handshake and writes a
// transcript of every call it receives or makes. Its own two interfaces cross
// the process boundary only through stubs and proxies generated from its own
// launcher_interfaces.idl (own_proxy_stub.h), never the host's ombrixPS.dll.
// A session is a list of steps:
//
//   publish first|second       publish the plug-in system under an item name
//   serve MS                   serve COM calls for MS milliseconds
//   serve-until EVENT          serve COM calls until the named event is set
//   run-host ARGS...           start ombrix.exe with ARGS; hosts that still run stay
//                              in the session with the plug-ins they registered.
//                              Transcribes "started ombrix.exe ARGS", then "host pid N"
//   expect-exit CODE           serve calls until every host ends; check each exit code.
//                              One line per host: "host exited with N after T ms",
//                              T the host's own lifetime (creation to exit)
//   expect-exit-within CODE MS the same, but passes only when every host ended with
//                              CODE at most MS ms after this step began, judged by
//                              the host's exit time (one that ended before counts);
//                              waits at most MS ms (and a second's slack). A late one:
//                              "host pid N ended E ms after the step began, not
//                              within MS ms"; one still running: "host pid N did not
//                              end within MS ms" (it stays in the session)
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
//                              onDialogFinish ID EVENT, initialize [ID]: binding
//                              again with the simulator's latest published
//                              IPluginSystem, or null if none, and ID, default 1);
//                              check the result ("failed" for any failure) and the
//                              text
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
//   admin-on-plugin OP ...     the same on the latest plug-in's object (which answers
//                              IAdminHostProcess too)
//   await-closed ID CODE       serve calls until ombrixClosed(ID, CODE) arrived
//   resources                  write the simulator's own handle count and private
//                              bytes: "resources: handles N, private bytes M"
//
// The rude launcher:
//   die                        transcribe "dying", then end the simulator at once as
//                              a crash would: TerminateProcess on itself with exit
//                              code 0xDEAD (57005); hosts are left as they are
//   signal NAME                set the existing named event NAME (opened with
//                              EVENT_MODIFY_STATE): "signalled NAME"
//   release                    drop every reference to the host's plug-in objects:
//                              the registered IUpdatePlugin proxies, the latest one's
//                              IPluginSystemEvents and the dialog answers not yet
//                              sent; "released the plug-in objects". Later calls find
//                              no plug-in until a host registers one. The admin
//                              host's IAdminHostProcess is kept
//   nest HANDLER[:TEXT] OP [ARGS] [=> RESULT [TEXT]]
//                              arm a one-shot nested call: the next time the
//                              simulator serves HANDLER (any IPluginSystem or
//                              IUpdatePluginEvents operation: writeLog, onProgress,
//                              showDialogEx, onFinish, ...; for writeLog and
//                              onStatusInfo with :TEXT only when its text is exactly
//                              TEXT), it calls IUpdatePlugin::OP ARGS on the latest
//                              registered plug-in from inside that handler, before
//                              answering (and before the handler's own line), and
//                              transcribes "nested IUpdatePlugin::OP(ARGS) -> RESULT
//                              [TEXT]" as a call does. OP and its checks are those of
//                              `call`. A result or text unlike the expected one (or
//                              no plug-in) adds the call's "expected ..." line, and the
//                              next step fails with "nested call failed:
//                              IUpdatePlugin::OP(ARGS) in HANDLER: <why>", the
//                              session's end if no step follows. A TEXT with spaces:
//                              quote the word ("writeLog:inside start") or escape
//                              each space with a backslash (writeLog:inside\ start).
//                              registerPlugin's nested call goes to the plug-in being
//                              registered. Several may be armed at once; all that
//                              match one call run, in the order they were armed
//   hang HANDLER[:TEXT] MS     the next time HANDLER is served, sleep MS ms without
//                              serving messages before answering (before any nested
//                              call armed for it): "hanging in HANDLER for MS ms"
//
// Every call into the host and every await has the --call-limit; a call that
// exceeds it is named in the transcript and the hosts are ended. A nested call
// made while no call is watched (during an await, say) gets the limit of its own.
//
// --plugin=PATH runs an author's DLL through a whole session instead: a host for
// plug-in id 1, the text operations, start, serving until onFinish (dialogs are
// answered with their first button), deinitialize, exit code 0.
#include "call_watchdog.h"
#include "err/utf.h"
#include "events_sink.h"
#include "own_proxy_stub.h"
#include "plugin_calls.h"
#include "plugin_system.h"
#include "process_resources.h"
#include "running_object.h"
#include "served_operations.h"
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
#include <optional>
#include <utility>

namespace po = boost::program_options;
using Microsoft::WRL::ComPtr;
using System::Win32::UniqueBstr;
using System::Win32::UniqueHandle;

namespace LauncherSim {
namespace {

constexpr DWORD kStepLimitMs = 60000;
constexpr DWORD kDefaultCallLimitMs = 30000;
// The simulator's own exit code when a step ends it as a crash would.
constexpr UINT kDyingExitCode = 0xDEAD;
// How long expect-exit-within waits past its limit for the end of a process to
// be signalled; whether the host was in time is judged by its exit time.
constexpr DWORD kExitSignalSlackMs = 1000;

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

// A word ending in a backslash continues with a space and the next word
// ("writeLog:inside\ start"), as a shell's escaped space reads.
void joinEscapedSpaces(std::vector<std::wstring>& words, std::size_t at)
{
    while (at + 1 < words.size() && !words[at].empty() && words[at].back() == L'\\') {
        words[at].back() = L' ';
        words[at] += words[at + 1];
        words.erase(words.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    }
}

// A system time in milliseconds.
long long milliseconds(const FILETIME& time)
{
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) /
                                  10000);
}

// What a call step expects after "=>": any failure, a result, a text.
struct Expected {
    bool failure = false;
    std::optional<HRESULT> result;
    std::optional<std::wstring> text;
};

// Splits "OP ARGS... [=> RESULT [TEXT]]" into the arguments and the
// expectation; false when the words make no call of `operation`.
template <typename Operation>
bool parseCall(std::vector<std::wstring> words, const Operation* operation, std::vector<std::wstring>& arguments,
               Expected& expected)
{
    std::vector<std::wstring> after;
    if (const auto arrow = std::find(words.begin(), words.end(), L"=>"); arrow != words.end()) {
        after.assign(arrow + 1, words.end());
        words.erase(arrow, words.end());
    }
    arguments.assign(words.begin() + 1, words.end());
    if (operation == nullptr || arguments.size() < operation->minArguments ||
        arguments.size() > operation->maxArguments || after.size() > 2)
        return false;
    // "failed" accepts any failure: also COM's own when the host ended during the call.
    if (!after.empty() && after[0] == L"failed") {
        expected.failure = true;
    } else if (!after.empty()) {
        HRESULT wanted = S_OK;
        if (!parseResult(after[0], wanted))
            return false;
        expected.result = wanted;
    }
    if (after.size() == 2)
        expected.text = after[1];
    return true;
}

// "Interface::operation(arguments)"
std::wstring callText(const wchar_t* interfaceName, const wchar_t* operation, const std::vector<std::wstring>& arguments)
{
    std::wstring shown;
    for (const std::wstring& argument : arguments)
        shown += (shown.empty() ? L"" : L", ") + argument;
    return std::wstring(interfaceName) + L"::" + operation + L"(" + shown + L")";
}

// "Interface::operation(arguments) -> result[ "text"]"
std::wstring callLine(const wchar_t* interfaceName, const wchar_t* operation, const std::vector<std::wstring>& arguments,
                      const CallOutcome& outcome)
{
    std::wstring line = callText(interfaceName, operation, arguments) + L" -> " + hresultText(outcome.result);
    if (outcome.text)
        line += L" \"" + *outcome.text + L"\"";
    return line;
}

// How the outcome differs from the expectation; none when it does not.
std::optional<std::wstring> unmet(const Expected& expected, const CallOutcome& outcome)
{
    if (expected.failure && SUCCEEDED(outcome.result))
        return L"expected a failure";
    if (expected.result && *expected.result != outcome.result)
        return L"expected " + hresultText(*expected.result);
    if (expected.text && outcome.text != expected.text)
        return L"expected the text \"" + *expected.text + L"\"";
    return std::nullopt;
}

// nest: the nested call armed for a served operation.
struct ArmedNest {
    ServedCallFilter filter;
    const PluginOperation* operation;
    std::vector<std::wstring> arguments;
    Expected expected;
};

// hang: how long the next call of a served operation sleeps.
struct ArmedHang {
    ServedCallFilter filter;
    DWORD milliseconds;
};

class Session {
public:
    Session(SimConfig config, Transcript& transcript, std::wstring hostPath, DWORD callLimitMs)
        : config_(std::move(config))
        , transcript_(transcript)
        , hostPath_(std::move(hostPath))
        , callLimitMs_(callLimitMs)
        , watchdog_(transcript, std::chrono::milliseconds(callLimitMs))
    {
        state_.serving = [this](const wchar_t* operation, BSTR text) { serving(operation, text); };
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
        std::vector<std::wstring> words = po::split_winmain(step);
        if (words.empty())
            return true;
        transcript_.line(L"step: " + step);
        if (!nestedCallsMet())
            return false;
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
        if (verb == L"expect-exit-within" && words.size() == 3)
            return expectExitWithin(std::stoul(words[1]), static_cast<DWORD>(std::stoul(words[2])));
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
        if ((verb == L"admin" || verb == L"admin-on-plugin") && words.size() >= 2)
            return callAdminHost(std::vector<std::wstring>(words.begin() + 1, words.end()), verb == L"admin-on-plugin");
        if (verb == L"await-closed" && words.size() == 3)
            return awaitClosed(std::stoul(words[1]), std::stoul(words[2]));
        if (verb == L"resources" && words.size() == 1)
            return resources();
        if (verb == L"die" && words.size() == 1)
            die();
        if (verb == L"signal" && words.size() == 2)
            return signal(words[1]);
        if (verb == L"release" && words.size() == 1)
            return release();
        if ((verb == L"nest" || verb == L"hang") && words.size() >= 3) {
            joinEscapedSpaces(words, 1);
            return verb == L"nest" ? nest(words) : hang(words);
        }
        transcript_.line(L"unknown step");
        return false;
    }

    // The failures of nested calls not yet reported by a step, as the session's
    // end reports them: false, with one line each, when there were any.
    bool nestedCallsMet()
    {
        for (const std::wstring& failure : nestedFailures_)
            transcript_.line(failure);
        const bool met = nestedFailures_.empty();
        nestedFailures_.clear();
        return met;
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
        if (SUCCEEDED(hr))
            system_ = system;
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

    LauncherObjects launcherObjects() { return {sink(), system_.Get()}; }

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
                             const std::vector<std::wstring>& arguments) {
                          return operation.call(plugin, launcherObjects(), arguments);
                      }))
                return false;
        return true;
    }

    // On the admin host, or with `onPlugin` on the latest plug-in's object, which
    // answers IAdminHostProcess too (a launcher mixing up its hosts).
    bool callAdminHost(const std::vector<std::wstring>& words, bool onPlugin)
    {
        ComPtr<IAdminHostProcess> target = state_.adminHost;
        if (onPlugin) {
            target.Reset();
            if (!state_.plugins.empty())
                state_.plugins.back().As(&target);
        }
        return call(words, L"IAdminHostProcess", findAdminOperation(words[0]), target.Get(),
                    [](const AdminOperation& operation, IAdminHostProcess& adminHost,
                       const std::vector<std::wstring>& arguments) { return operation.call(adminHost, arguments); });
    }

    template <typename Operation, typename Target, typename Invoke>
    bool call(const std::vector<std::wstring>& words, const wchar_t* interfaceName, const Operation* operation,
              Target* target, Invoke invoke)
    {
        std::vector<std::wstring> arguments;
        Expected expected;
        if (!parseCall(words, operation, arguments, expected)) {
            transcript_.line(L"unknown operation or wrong arguments");
            return false;
        }
        if (target == nullptr) {
            transcript_.line(std::wstring(L"no ") + interfaceName + L" is registered");
            return false;
        }
        watchdog_.arm(operation->name, hostHandles());
        const CallOutcome outcome = invoke(*operation, *target, arguments);
        watchdog_.disarm();
        transcript_.line(callLine(interfaceName, operation->name, arguments, outcome));
        if (const std::optional<std::wstring> difference = unmet(expected, outcome)) {
            transcript_.line(*difference);
            return false;
        }
        return true;
    }

    // ---- The rude launcher ----

    [[noreturn]] void die()
    {
        // Each line is in the file once line() returns.
        transcript_.line(L"dying");
        ::TerminateProcess(::GetCurrentProcess(), kDyingExitCode);
        ::ExitProcess(kDyingExitCode); // not reached: the process is gone
    }

    bool signal(const std::wstring& name)
    {
        const UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
        if (!event || !::SetEvent(event.get())) {
            transcript_.line(L"cannot set the event " + name + L": error " + std::to_wstring(::GetLastError()));
            return false;
        }
        transcript_.line(L"signalled " + name);
        return true;
    }

    bool release()
    {
        // Off the session's lists first: COM may serve a call while a release
        // waits for the host, and that call finds no plug-in.
        {
            const std::vector<ComPtr<IUpdatePlugin>> plugins = std::exchange(state_.plugins, {});
            const ComPtr<IPluginSystemEvents> events = std::exchange(state_.pluginEvents, nullptr);
            PluginSystem::dropPendingDialogAnswers();
        }
        transcript_.line(L"released the plug-in objects");
        return true;
    }

    // nest HANDLER[:TEXT] OP [ARGS] [=> RESULT [TEXT]]
    bool nest(const std::vector<std::wstring>& words)
    {
        std::optional<ServedCallFilter> filter = parseServedCallFilter(words[1]);
        if (!filter) {
            transcript_.line(L"no handler " + words[1]);
            return false;
        }
        ArmedNest armed{std::move(*filter), findPluginOperation(words[2]), {}, {}};
        if (!parseCall(std::vector<std::wstring>(words.begin() + 2, words.end()), armed.operation, armed.arguments,
                       armed.expected)) {
            transcript_.line(L"unknown operation or wrong arguments");
            return false;
        }
        nests_.push_back(std::move(armed));
        return true;
    }

    // hang HANDLER[:TEXT] MS
    bool hang(const std::vector<std::wstring>& words)
    {
        std::optional<ServedCallFilter> filter = parseServedCallFilter(words[1]);
        if (!filter || words.size() != 3) {
            transcript_.line(filter ? L"hang needs HANDLER MS" : L"no handler " + words[1]);
            return false;
        }
        hangs_.push_back({std::move(*filter), static_cast<DWORD>(std::stoul(words[2]))});
        return true;
    }

    // Inside the handler of `operation`, before it answers: what was armed for it.
    void serving(const wchar_t* operation, BSTR text)
    {
        // Taken off the lists before they run: what they call may come back here.
        const auto take = [&](auto& armed) {
            std::remove_reference_t<decltype(armed)> matching;
            for (auto it = armed.begin(); it != armed.end();)
                if (it->filter.matches(operation, text)) {
                    matching.push_back(std::move(*it));
                    it = armed.erase(it);
                } else {
                    ++it;
                }
            return matching;
        };
        for (const ArmedHang& hang : take(hangs_)) {
            transcript_.line(std::wstring(L"hanging in ") + operation + L" for " + std::to_wstring(hang.milliseconds) +
                             L" ms");
            ::Sleep(hang.milliseconds);
        }
        for (const ArmedNest& nest : take(nests_))
            nestedCall(nest, operation);
    }

    void nestedCall(const ArmedNest& nest, const wchar_t* handler)
    {
        const PluginOperation& operation = *nest.operation;
        const auto failed = [&](const std::wstring& why) {
            transcript_.line(why);
            nestedFailures_.push_back(L"nested call failed: " + callText(L"IUpdatePlugin", operation.name, nest.arguments) +
                                      L" in " + handler + L": " + why);
        };
        const ComPtr<IUpdatePlugin> target = state_.plugins.empty() ? nullptr : state_.plugins.back();
        if (!target) {
            failed(L"no IUpdatePlugin is registered");
            return;
        }
        const bool watched =
            watchdog_.armIfIdle(std::wstring(operation.name) + L" (nested in " + handler + L")", hostHandles());
        std::optional<CallOutcome> outcome;
        try {
            outcome = operation.call(*target.Get(), launcherObjects(), nest.arguments);
        } catch (const std::exception&) {
            // A word that is no number where one is needed: nothing may leave a COM handler.
        }
        if (watched)
            watchdog_.disarm();
        if (!outcome) {
            failed(L"wrong arguments");
            return;
        }
        transcript_.line(L"nested " + callLine(L"IUpdatePlugin", operation.name, nest.arguments, *outcome));
        if (const std::optional<std::wstring> difference = unmet(nest.expected, *outcome))
            failed(*difference);
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
        transcript_.line(L"host pid " + std::to_wstring(info.dwProcessId));
        return true;
    }

    // "host exited with N after T ms", T the host's lifetime; its exit time.
    FILETIME transcribeExit(HANDLE host, DWORD& code)
    {
        code = 0;
        ::GetExitCodeProcess(host, &code);
        FILETIME creation{}, exit{}, kernel{}, user{};
        ::GetProcessTimes(host, &creation, &exit, &kernel, &user);
        transcript_.line(L"host exited with " + std::to_wstring(code) + L" after " +
                         std::to_wstring(milliseconds(exit) - milliseconds(creation)) + L" ms");
        return exit;
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
            transcribeExit(host.get(), code);
            asExpected = asExpected && code == expected;
        }
        hosts_.clear();
        return asExpected;
    }

    // Every host ends with `expected` at most `limitMs` after now, by its exit
    // time; one still running then stays in the session (its end ends it).
    bool expectExitWithin(unsigned long expected, DWORD limitMs)
    {
        FILETIME began{};
        ::GetSystemTimePreciseAsFileTime(&began);
        if (hosts_.empty()) {
            transcript_.line(L"the host did not end");
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs + kExitSignalSlackMs);
        bool asExpected = true;
        std::vector<UniqueHandle> running;
        for (UniqueHandle& host : hosts_) {
            const std::wstring pid = std::to_wstring(::GetProcessId(host.get()));
            const auto left = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            if (waitWithMessages(host.get(), static_cast<DWORD>(left)) != 0) {
                transcript_.line(L"host pid " + pid + L" did not end within " + std::to_wstring(limitMs) + L" ms");
                running.push_back(std::move(host));
                asExpected = false;
                continue;
            }
            DWORD code = 0;
            const long long after = milliseconds(transcribeExit(host.get(), code)) - milliseconds(began);
            if (after > static_cast<long long>(limitMs)) {
                transcript_.line(L"host pid " + pid + L" ended " + std::to_wstring(after) +
                                 L" ms after the step began, not within " + std::to_wstring(limitMs) + L" ms");
                asExpected = false;
            }
            asExpected = asExpected && code == expected;
        }
        hosts_ = std::move(running);
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
    ComPtr<IPluginSystem> system_; // the latest one published
    ComPtr<IUpdatePluginEvents> sink_;
    RunningObjectRegistration published_;
    RunningObjectRegistration publishedEvents_;
    std::vector<UniqueHandle> hosts_; // started in this session, the latest last
    std::vector<ArmedNest> nests_; // in the order armed
    std::vector<ArmedHang> hangs_;
    std::vector<std::wstring> nestedFailures_; // lines for the next step
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
        const OwnProxyStub ownProxyStub;
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
            if (passed && !session.nestedCallsMet()) {
                transcript.line(L"the session failed after its last step");
                passed = false;
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
