#include "events_sink.h"

namespace LauncherSim {

HRESULT EventsSink::record(const wchar_t* operation, const std::wstring& arguments, BSTR text)
{
    session_.enter(operation, text);
    const HRESULT result = config_.resultOf(operation);
    transcript_.line(L"IUpdatePluginEvents::" + std::wstring(operation) + L"(" + arguments + L") -> " +
                     hresultText(result));
    return result;
}

HRESULT EventsSink::onStart(ULONG pluginId)
{
    return record(L"onStart", std::to_wstring(pluginId));
}

HRESULT EventsSink::onProgress(ULONG pluginId, LONG value)
{
    const HRESULT result = record(L"onProgress", std::to_wstring(pluginId) + L", " + std::to_wstring(value));
    ::SetEvent(session_.pluginProgressed.get());
    return result;
}

HRESULT EventsSink::onStatusInfo(ULONG pluginId, BSTR info)
{
    return record(L"onStatusInfo", std::to_wstring(pluginId) + L", " + quoted(info), info);
}

HRESULT EventsSink::onFinish(ULONG pluginId, VARIANT_BOOL success)
{
    const HRESULT result = record(L"onFinish", std::to_wstring(pluginId) + L", " + boolText(success));
    session_.finishedWithSuccess = success == VARIANT_TRUE;
    session_.finishedIds.insert(pluginId);
    ::SetEvent(session_.pluginFinished.get());
    return result;
}

} // namespace LauncherSim
