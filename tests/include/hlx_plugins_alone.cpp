// The plug-in SDK header on its own, as a plug-in author compiles it: nothing
// else included, warnings as errors, C++11 to C++20 (C++14 is the default of
// the most common Windows compiler). A minimal plug-in proves that the
// interfaces can be implemented and the export declared with the expected type.
#include "hlx_plugins.h"

#include <type_traits>

namespace {

class MinimalPlugin final : public IPluginDllObject {
public:
    bool initialize(HLXPlugins::IPluginSystem* system) override { return system != nullptr; }
    void deinitialize() override {}
    std::int32_t name(wchar_t*, std::int32_t) override { return 0; }
    std::int32_t description(wchar_t*, std::int32_t) override { return 0; }
    std::int32_t versionString(wchar_t*, std::int32_t) override { return 0; }
    void setAdditionalProp(const wchar_t*, const wchar_t*) override {}
    std::int32_t getAdditionalProp(const wchar_t*, wchar_t*, std::int32_t) override { return 0; }
    bool start(HLXPlugins::IUpdatePluginEvents* events) override { return events != nullptr; }
    std::int32_t error(wchar_t*, std::int32_t) override { return 0; }
    void stop() override {}
};

class Answer final : public HLXPlugins::IPluginDialogCallback {
public:
    void onDialogFinish(std::int32_t) override {}
};

} // namespace

extern "C" bool HLX_PLUGINS_WINAPI DllGetPluginObject(IPluginDllObject** object)
{
    static MinimalPlugin plugin;
    static Answer answer;
    (void)answer;
    *object = &plugin;
    return true;
}

static_assert(std::is_same<decltype(&DllGetPluginObject), DllGetPluginObjectFunction>::value, "the export's type");
static_assert(std::is_abstract<HLXPlugins::IPluginSystem>::value && !std::is_polymorphic<HLXPlugins::DialogInfo>::value,
              "interfaces and plain structures");
