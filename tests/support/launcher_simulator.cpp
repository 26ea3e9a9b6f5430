#include "launcher_simulator.h"

#include "running_object.h"
#include "support/com_apartment.h"
#include "support/test_support.h"

#include <fstream>

namespace TestSupport {

namespace {

template <typename I>
HRESULT lookUp(const std::wstring& item, Microsoft::WRL::ComPtr<I>& out)
{
    Microsoft::WRL::ComPtr<IUnknown> object;
    HRESULT hr = lookupRunningObject(::SysAllocString(item.c_str()), &object);
    if (hr == S_OK)
        hr = object.As(&out);
    return hr;
}

} // namespace

LauncherSimulator::~LauncherSimulator()
{
    if (process_)
        finish();
}

bool LauncherSimulator::start(const std::wstring& options, const std::wstring& eventsItem)
{
    // The name is fresh for each session: finish() closed the last handle of the previous one.
    const std::wstring release = L"ombrix-test-release-" + std::to_wstring(::GetCurrentProcessId());
    release_.reset(::CreateEventW(nullptr, TRUE, FALSE, release.c_str()));
    std::wstring steps = L" --step=\"publish first\"";
    if (!eventsItem.empty())
        steps += L" --step=\"publish-events " + eventsItem + L"\"";
    process_ = startProgram(binDirectory() / L"launcher-sim.exe", L"--transcript=\"" + transcript_.wstring() + L"\" " +
                                                                     options + steps + L" --step=\"serve-until " +
                                                                     release + L"\"");
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    while ((!system || (!eventsItem.empty() && !events)) && ::GetTickCount64() < deadline) {
        if (!system)
            lastLookup = lookUp(kLauncherItemName, system);
        if (system && !eventsItem.empty())
            lastLookup = lookUp(eventsItem, events);
        if (!system || (!eventsItem.empty() && !events))
            ::Sleep(20);
    }
    return system && (eventsItem.empty() || events);
}

unsigned long LauncherSimulator::finish()
{
    system.Reset();
    events.Reset();
    ::SetEvent(release_.get());
    pumpUntilSignalled(process_.get());
    DWORD code = 99;
    ::GetExitCodeProcess(process_.get(), &code);
    process_.reset();
    release_.reset();
    return code;
}

std::vector<std::string> LauncherSimulator::transcriptLines() const
{
    return readTextLines(transcript_);
}

} // namespace TestSupport
