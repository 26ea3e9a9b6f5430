// The native interface between ombrix.exe and an update plug-in DLL.
//
// This is the only header a plug-in needs. It is plain C++ (no Windows header,
// no host header) and describes a binary contract for 32-bit Windows: every
// interface is an abstract class with virtual member functions only, called
// with the compiler's default convention for member functions (thiscall), so
// DLLs built with MinGW-w64 GCC and with MSVC meet the host alike.
//
// Ownership, in short:
// - Strings and arrays the plug-in passes stay the plug-in's; the host reads
//   them during the call only and copies what it forwards.
// - Strings the host returns are copied into a buffer the plug-in supplies
//   (the buffer protocol below).
// - Host objects are never deleted by the plug-in; plug-in objects are never
//   deleted by the host. No interface has a destructor in its table.
// - The only plug-in pointer the host keeps beyond a call is an
//   IPluginDialogCallback given to a dialog request that returned 0.
//
// Threads: the plug-in may call every host interface from any of its threads,
// also concurrently; each call is synchronous and returns when the launcher
// has answered. A dialog request returns once the launcher accepted it; its
// IPluginDialogCallback::onDialogFinish later runs on the host's main thread,
// which is also the only thread that calls IPluginDllObject.
//
// Result codes of the int32 operations: 0 success, -1 failure (an invalid
// argument, the launcher unreachable, or the launcher's call failed),
// -2 an interface id the host does not know.
//
// Buffer protocol of the host's string getters (language, installationId,
// gameWorkDir): if the buffer is non-null and the value's length (without the
// terminator) is less than `size`, the value and its terminator are copied,
// the rest of the buffer up to `size` is zero-filled, and the length is
// returned. Otherwise nothing is written and length + 1 (the size needed) is
// returned. 0 means the value could not be fetched. Call once with a null
// buffer to learn the size.
//
// The plug-in's own text operations (IPluginDllObject::name and the others)
// are asked the other way round: first with a null buffer and size 0 (return
// the characters needed, write nothing), then with a buffer of at least that
// many characters plus one and the first result as its size (write the text,
// zero-terminated). Returning the length with or without the terminator both
// work.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define HLX_PLUGINS_WINAPI __stdcall
#else
#define HLX_PLUGINS_WINAPI
#endif

namespace HLXPlugins {

class IPluginDialogCallback;
class IPluginUISystem;
class IPluginLangSystem;

struct MessageArg {
    const wchar_t* text; // required
    std::uint32_t value; // passed through
};

struct DialogButton {
    std::int32_t id;
    const wchar_t* text; // required
    const wchar_t* hint; // required
};

// The request of IPluginUISystem::showDialogEx.
struct DialogInfo {
    const wchar_t* caption; // required
    const wchar_t* message; // required
    std::uint32_t messageArgCount;
    const MessageArg* messageArgs; // may be null when messageArgCount is 0
    std::uint32_t buttonCount;
    const DialogButton* buttons; // null exactly when buttonCount is 0
    std::int32_t defaultButtonId;
    std::uint32_t style;
    std::uint32_t type;     // the value 100 makes typeText travel
    const wchar_t* typeText; // ignored unless type is 100; may be null
    bool flagA;
    bool flagB;
};

struct LanguageSubstitution {
    const wchar_t* language;
    std::int32_t count;
    const wchar_t* const* substitutes; // count strings
};

struct DictionaryEntry {
    const wchar_t* string1;
    const wchar_t* string2;
    const wchar_t* string3;
};

struct LanguageDictionary {
    const wchar_t* language;
    std::int32_t count;
    const DictionaryEntry* entries; // count entries
};

// Passed to IPluginDllObject::initialize; valid until the plug-in's
// deinitialize has returned.
class IPluginSystem {
public:
    virtual std::int32_t language(wchar_t* buffer, std::int32_t size) = 0;
    virtual std::int32_t installationId(wchar_t* buffer, std::int32_t size) = 0;
    // A line in the launcher's log; the level is passed through unchanged.
    virtual void writeLog(const wchar_t* message, std::int32_t level) = 0;
    // kIPluginSystemId gives this same IPluginSystem pointer back, and
    // kIPluginSystemInternalId the IPluginSystemInternal view of the object.
    // Ids are compared in any letter case, without braces.
    // 0 and *out set; -2 for an unknown id; -1 if an argument is null.
    virtual std::int32_t queryInterface(const wchar_t* id, void** out) = 0;
    virtual std::int32_t gameWorkDir(wchar_t* buffer, std::int32_t size) = 0;
    virtual void setGameCanStart(bool canStart) = 0;
    virtual void setCurrentPartIntegrity(bool intact) = 0;
    virtual void setCurrentPartVersion(const wchar_t* version) = 0; // version required
    virtual std::int32_t uiSystem(IPluginUISystem** out) = 0;
    virtual std::int32_t langSystem(IPluginLangSystem** out) = 0;

protected:
    ~IPluginSystem() = default;
};

class IPluginUISystem {
public:
    // Short forms of showDialogEx: no message arguments, the first button's
    // id as default, style 0 (showDialog) or 1 (showStyledDialog), no type
    // text, both flags false. Note the order: message, then caption.
    virtual std::int32_t showDialog(const wchar_t* message, const wchar_t* caption, std::uint32_t buttonCount,
                                    const DialogButton* buttons, std::uint32_t type,
                                    IPluginDialogCallback* callback) = 0;
    virtual std::int32_t showStyledDialog(const wchar_t* message, const wchar_t* caption, std::uint32_t buttonCount,
                                          const DialogButton* buttons, std::uint32_t type,
                                          IPluginDialogCallback* callback) = 0;
    // The callback must stay valid until the plug-in's deinitialize has
    // returned: the host keeps it for its dialog id, and a launcher may report
    // the same dialog's end more than once, each time to this callback (on the
    // host's main thread). Act on the first answer only if that matters.
    virtual std::int32_t showDialogEx(const DialogInfo* info, IPluginDialogCallback* callback) = 0;

protected:
    ~IPluginUISystem() = default;
};

class IPluginLangSystem {
public:
    virtual std::int32_t setMultiLanguageDictionary(std::int32_t languagesCount,
                                                    const LanguageDictionary* dictionaries) = 0;
    // defaultLanguage may be null.
    virtual std::int32_t setLanguageSubstitutions(const wchar_t* defaultLanguage, std::int32_t languagesCount,
                                                  const LanguageSubstitution* substitutions) = 0;

protected:
    ~IPluginLangSystem() = default;
};

// Reached through IPluginSystem::queryInterface with kIPluginSystemInternalId.
class IPluginSystemInternal {
public:
    virtual std::uint64_t mainWindow() = 0; // 0 if it cannot be fetched
    virtual void restartAgent() = 0;

protected:
    ~IPluginSystemInternal() = default;
};

// The ids IPluginSystem::queryInterface knows.
constexpr const wchar_t* kIPluginSystemId = L"7FBDFD9F-695B-4CAA-B59F-09F0F7A4EAD3";
constexpr const wchar_t* kIPluginSystemInternalId = L"A66984D9-9C6E-4790-AC06-727A076B41A0";

// Passed to IPluginDllObject::start; valid until the plug-in's deinitialize
// has returned. Reports may come from any thread.
class IUpdatePluginEvents {
public:
    virtual void onStart() = 0;
    virtual void onProgress(std::int32_t progress) = 0;
    virtual void onStatusInfo(const wchar_t* text) = 0;
    // If the launcher cannot be told, the host ends itself.
    virtual void onFinish(bool success) = 0;

protected:
    ~IUpdatePluginEvents() = default;
};

// Implemented by the plug-in for each dialog it opens; called on the host's
// main thread with the event id the launcher reported.
class IPluginDialogCallback {
public:
    virtual void onDialogFinish(std::int32_t eventId) = 0;

protected:
    ~IPluginDialogCallback() = default;
};

} // namespace HLXPlugins

// The plug-in object, obtained through DllGetPluginObject and owned by the
// plug-in. The host calls it on its main thread only, one call at a time, in
// this order: initialize; any of name, description, versionString, error,
// getAdditionalProp, setAdditionalProp; start; stop; deinitialize (the last).
// The text operations follow the plug-in side of the buffer protocol above.
class IPluginDllObject {
public:
    virtual bool initialize(HLXPlugins::IPluginSystem* system) = 0;
    virtual void deinitialize() = 0;
    virtual std::int32_t name(wchar_t* buffer, std::int32_t size) = 0;
    virtual std::int32_t description(wchar_t* buffer, std::int32_t size) = 0;
    virtual std::int32_t versionString(wchar_t* buffer, std::int32_t size) = 0;
    virtual void setAdditionalProp(const wchar_t* propName, const wchar_t* value) = 0;
    virtual std::int32_t getAdditionalProp(const wchar_t* propName, wchar_t* buffer, std::int32_t size) = 0;
    // Never called; it keeps the later entries in their places.
    virtual void reserved() {}
    virtual bool start(HLXPlugins::IUpdatePluginEvents* events) = 0;
    virtual std::int32_t error(wchar_t* buffer, std::int32_t size) = 0;
    virtual void stop() = 0;

protected:
    ~IPluginDllObject() = default;
};

// The DLL's one export, with the Windows API calling convention and its plain
// name "DllGetPluginObject". On 32-bit Windows a __stdcall function is
// decorated ("_DllGetPluginObject@4"), so export it undecorated:
//   MinGW-w64: declare it extern "C" and link with -Wl,--kill-at, or list
//              "DllGetPluginObject" in a .def file;
//   MSVC:      list it in the EXPORTS section of a .def file (or use
//              #pragma comment(linker, "/EXPORT:DllGetPluginObject=_DllGetPluginObject@4")).
// On success write the object and return true.
using DllGetPluginObjectFunction = bool(HLX_PLUGINS_WINAPI*)(IPluginDllObject** object);
constexpr const char* kDllGetPluginObjectName = "DllGetPluginObject";

// The layout the host expects on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(wchar_t) == 2 && sizeof(bool) == 1, "the plug-in ABI has 16-bit characters and 8-bit bools");
static_assert(sizeof(HLXPlugins::DialogInfo) == 44 && offsetof(HLXPlugins::DialogInfo, messageArgCount) == 8 &&
                  offsetof(HLXPlugins::DialogInfo, messageArgs) == 12 &&
                  offsetof(HLXPlugins::DialogInfo, buttonCount) == 16 &&
                  offsetof(HLXPlugins::DialogInfo, buttons) == 20 &&
                  offsetof(HLXPlugins::DialogInfo, defaultButtonId) == 24 &&
                  offsetof(HLXPlugins::DialogInfo, style) == 28 && offsetof(HLXPlugins::DialogInfo, type) == 32 &&
                  offsetof(HLXPlugins::DialogInfo, typeText) == 36 && offsetof(HLXPlugins::DialogInfo, flagA) == 40 &&
                  offsetof(HLXPlugins::DialogInfo, flagB) == 41,
              "DialogInfo layout");
static_assert(sizeof(HLXPlugins::DialogButton) == 12 && offsetof(HLXPlugins::DialogButton, text) == 4 &&
                  offsetof(HLXPlugins::DialogButton, hint) == 8,
              "DialogButton layout");
static_assert(sizeof(HLXPlugins::MessageArg) == 8 && offsetof(HLXPlugins::MessageArg, value) == 4,
              "MessageArg layout");
static_assert(sizeof(HLXPlugins::LanguageSubstitution) == 12 &&
                  offsetof(HLXPlugins::LanguageSubstitution, count) == 4 &&
                  offsetof(HLXPlugins::LanguageSubstitution, substitutes) == 8,
              "LanguageSubstitution layout");
static_assert(sizeof(HLXPlugins::LanguageDictionary) == 12 && offsetof(HLXPlugins::LanguageDictionary, count) == 4 &&
                  offsetof(HLXPlugins::LanguageDictionary, entries) == 8,
              "LanguageDictionary layout");
static_assert(sizeof(HLXPlugins::DictionaryEntry) == 12 && offsetof(HLXPlugins::DictionaryEntry, string2) == 4 &&
                  offsetof(HLXPlugins::DictionaryEntry, string3) == 8,
              "DictionaryEntry layout");
#endif
