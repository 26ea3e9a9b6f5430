// The plug-in SDK header as Microsoft's compiler lays it out, compiled by
// clang for the MSVC targets: every structure's offsets and size and every
// operation's type, against the plug-in contract, written out here rather
// than read from the header. The 32-bit numbers are the contract's own; the
// 64-bit ones are the same fields with 8-byte pointers, naturally aligned.
//
// C++ cannot ask which slot of its table an operation takes. The compiler
// tells (-fdump-vtable-layouts), and the build compares its account with
// hlx_plugins_msvc_slots.txt; useEveryInterface makes it lay out each table.
#include "hlx_plugins.h"

using namespace HLXPlugins;

namespace {

template <typename A, typename B>
struct Same {
    static constexpr bool value = false;
};
template <typename A>
struct Same<A, A> {
    static constexpr bool value = true;
};

// An operation of interface C of function type F, in the compiler's default
// convention for member functions (thiscall on 32-bit Windows).
template <typename C, typename F>
using Operation = F C::*;

constexpr std::size_t bits(std::size_t on32, std::size_t on64)
{
    return sizeof(void*) == 4 ? on32 : on64;
}

} // namespace

#define CHECK_SIZE(S, on32, on64) static_assert(sizeof(S) == bits(on32, on64), "size of " #S)
#define CHECK_FIELD(S, field, on32, on64) \
    static_assert(offsetof(S, field) == bits(on32, on64), "offset of " #S "::" #field)
#define CHECK_OPERATION(C, op, F) static_assert(Same<decltype(&C::op), Operation<C, F>>::value, "type of " #C "::" #op)

static_assert(sizeof(wchar_t) == 2 && sizeof(bool) == 1, "16-bit characters, 8-bit bools");

CHECK_SIZE(DialogInfo, 44, 80);
CHECK_FIELD(DialogInfo, caption, 0, 0);
CHECK_FIELD(DialogInfo, message, 4, 8);
CHECK_FIELD(DialogInfo, messageArgCount, 8, 16);
CHECK_FIELD(DialogInfo, messageArgs, 12, 24);
CHECK_FIELD(DialogInfo, buttonCount, 16, 32);
CHECK_FIELD(DialogInfo, buttons, 20, 40);
CHECK_FIELD(DialogInfo, defaultButtonId, 24, 48);
CHECK_FIELD(DialogInfo, style, 28, 52);
CHECK_FIELD(DialogInfo, type, 32, 56);
CHECK_FIELD(DialogInfo, typeText, 36, 64);
CHECK_FIELD(DialogInfo, flagA, 40, 72);
CHECK_FIELD(DialogInfo, flagB, 41, 73);

CHECK_SIZE(DialogButton, 12, 24);
CHECK_FIELD(DialogButton, id, 0, 0);
CHECK_FIELD(DialogButton, text, 4, 8);
CHECK_FIELD(DialogButton, hint, 8, 16);

CHECK_SIZE(MessageArg, 8, 16);
CHECK_FIELD(MessageArg, text, 0, 0);
CHECK_FIELD(MessageArg, value, 4, 8);

CHECK_SIZE(LanguageSubstitution, 12, 24);
CHECK_FIELD(LanguageSubstitution, language, 0, 0);
CHECK_FIELD(LanguageSubstitution, count, 4, 8);
CHECK_FIELD(LanguageSubstitution, substitutes, 8, 16);

CHECK_SIZE(LanguageDictionary, 12, 24);
CHECK_FIELD(LanguageDictionary, language, 0, 0);
CHECK_FIELD(LanguageDictionary, count, 4, 8);
CHECK_FIELD(LanguageDictionary, entries, 8, 16);

CHECK_SIZE(DictionaryEntry, 12, 24);
CHECK_FIELD(DictionaryEntry, string1, 0, 0);
CHECK_FIELD(DictionaryEntry, string2, 4, 8);
CHECK_FIELD(DictionaryEntry, string3, 8, 16);

// An interface is its table pointer and nothing else.
CHECK_SIZE(IPluginDllObject, 4, 8);
CHECK_SIZE(IPluginSystem, 4, 8);
CHECK_SIZE(IPluginUISystem, 4, 8);
CHECK_SIZE(IPluginLangSystem, 4, 8);
CHECK_SIZE(IPluginSystemInternal, 4, 8);
CHECK_SIZE(IUpdatePluginEvents, 4, 8);
CHECK_SIZE(IPluginDialogCallback, 4, 8);

// The export removes its argument from the stack itself, as the Windows API does.
static_assert(Same<DllGetPluginObjectFunction, bool(__stdcall*)(IPluginDllObject**)>::value,
              "type of DllGetPluginObject");

CHECK_OPERATION(IPluginDllObject, initialize, bool(IPluginSystem*));
CHECK_OPERATION(IPluginDllObject, deinitialize, void());
CHECK_OPERATION(IPluginDllObject, name, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginDllObject, description, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginDllObject, versionString, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginDllObject, setAdditionalProp, void(const wchar_t*, const wchar_t*));
CHECK_OPERATION(IPluginDllObject, getAdditionalProp, std::int32_t(const wchar_t*, wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginDllObject, start, bool(IUpdatePluginEvents*));
CHECK_OPERATION(IPluginDllObject, error, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginDllObject, stop, void());

CHECK_OPERATION(IPluginSystem, language, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginSystem, installationId, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginSystem, writeLog, void(const wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginSystem, queryInterface, std::int32_t(const wchar_t*, void**));
CHECK_OPERATION(IPluginSystem, gameWorkDir, std::int32_t(wchar_t*, std::int32_t));
CHECK_OPERATION(IPluginSystem, setGameCanStart, void(bool));
CHECK_OPERATION(IPluginSystem, setCurrentPartIntegrity, void(bool));
CHECK_OPERATION(IPluginSystem, setCurrentPartVersion, void(const wchar_t*));
CHECK_OPERATION(IPluginSystem, uiSystem, std::int32_t(IPluginUISystem**));
CHECK_OPERATION(IPluginSystem, langSystem, std::int32_t(IPluginLangSystem**));

CHECK_OPERATION(IPluginUISystem, showDialog,
                std::int32_t(const wchar_t*, const wchar_t*, std::uint32_t, const DialogButton*, std::uint32_t,
                             IPluginDialogCallback*));
CHECK_OPERATION(IPluginUISystem, showStyledDialog,
                std::int32_t(const wchar_t*, const wchar_t*, std::uint32_t, const DialogButton*, std::uint32_t,
                             IPluginDialogCallback*));
CHECK_OPERATION(IPluginUISystem, showDialogEx, std::int32_t(const DialogInfo*, IPluginDialogCallback*));

CHECK_OPERATION(IPluginLangSystem, setMultiLanguageDictionary, std::int32_t(std::int32_t, const LanguageDictionary*));
CHECK_OPERATION(IPluginLangSystem, setLanguageSubstitutions,
                std::int32_t(const wchar_t*, std::int32_t, const LanguageSubstitution*));

CHECK_OPERATION(IPluginSystemInternal, mainWindow, std::uint64_t());
CHECK_OPERATION(IPluginSystemInternal, restartAgent, void());

CHECK_OPERATION(IUpdatePluginEvents, onStart, void());
CHECK_OPERATION(IUpdatePluginEvents, onProgress, void(std::int32_t));
CHECK_OPERATION(IUpdatePluginEvents, onStatusInfo, void(const wchar_t*));
CHECK_OPERATION(IUpdatePluginEvents, onFinish, void(bool));

CHECK_OPERATION(IPluginDialogCallback, onDialogFinish, void(std::int32_t));

// A call through each interface: the compiler lays out (and reports) the table of every one.
void useEveryInterface(IPluginDllObject& plugin, IPluginSystem& system, IPluginUISystem& ui, IPluginLangSystem& lang,
                       IPluginSystemInternal& internal, IUpdatePluginEvents& events, IPluginDialogCallback& callback)
{
    plugin.stop();
    system.setGameCanStart(true);
    ui.showDialogEx(nullptr, &callback);
    lang.setLanguageSubstitutions(nullptr, 0, nullptr);
    internal.restartAgent();
    events.onStart();
    callback.onDialogFinish(0);
}
