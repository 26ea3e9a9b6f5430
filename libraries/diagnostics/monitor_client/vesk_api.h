#pragma once

// The C interface of monitor_client_impl.dll: opaque structures, the callbacks
// it calls, and the shapes of its exported functions. Texts are UTF-8 unless
// a wide type says otherwise.
#include <cstdint>

// The library's calling convention, for its exports and for the callbacks it calls.
#define VESK_CALL __cdecl

struct VESK_ABNORMAL_TERMINATION_HANDLING;
struct VESK_ARTIFACT_DEFINITIONS;
struct VESK_CLIENT_INFO;
struct VESK_CONFIGURATION;
struct VESK_CONNECTION_CONFIG;
struct VESK_CRASH_DUMP_ARTIFACT;
struct VESK_DIALOG_CONTENT;
struct VESK_DUMP_GENERATION_PROGRESS_SETTINGS;
struct VESK_EVENT_CONFIG;
struct VESK_FILE_ARTIFACT;
struct VESK_FILE_COLLECTION_RESTRICTIONS;
struct VESK_MONITORS_SELF_CRASH_HANDLING;
struct VESK_NOTIFY_DIALOG;
struct VESK_PLUGIN_PATH_WITH_ARGUMENT;
struct VESK_POPUP_NOTIFICATION;
struct VESK_POST_EVENT_POLICY;
struct VESK_PROGRESS_DIALOG_CONTENT;
struct VESK_QUESTION_DIALOG;
struct VESK_RECURRING_EVENTS_SETTINGS;
struct VESK_REPORT_UPLOAD_CONSENT;
struct VESK_REPORTS_CLEANUP_POLICY;

namespace VESK::Api {

// Callbacks the library calls, possibly on its own threads.
using LogCallback = void(VESK_CALL*)(int severity, const wchar_t* text);
using StatusCallback = void(VESK_CALL*)(int previous, int current);
using EventBeginCallback = void(VESK_CALL*)(std::uint8_t eventType, void* customData, std::uint8_t action,
                                            const char* text, std::uint64_t value, void** customDataOut);
using EventEndCallback = void(VESK_CALL*)(std::uint8_t eventType, void* customData, std::uint8_t action,
                                          const char* text, std::uint64_t value);

// Core functions.
using GetApiVersion = int(VESK_CALL*)();
using GetStatus = int(VESK_CALL*)();
using InitLib = int(VESK_CALL*)(const VESK_CONFIGURATION* configuration, LogCallback log, StatusCallback status,
                                void* reserved, int flags);
using RaiseAssert = void(VESK_CALL*)(const char* text1, const char* text2, const char* text3, const char* text4,
                                     const char* text5, std::uint64_t line, int flags);
using NoArguments = void(VESK_CALL*)();
using ReportException = void(VESK_CALL*)(void* exceptionPointers);
using ReportSystemExceptionRecord = void(VESK_CALL*)(void* exceptionRecord, void* context);
using RegisterBegin = std::uint64_t(VESK_CALL*)(EventBeginCallback callback);
using RegisterEnd = std::uint64_t(VESK_CALL*)(EventEndCallback callback);
using UnregisterCallback = void(VESK_CALL*)(std::uint64_t id);

// Configuration functions over structure S: create, free, setters (1 = accepted).
template <class S> using Create = S*(VESK_CALL*)();
template <class S> using Free = void(VESK_CALL*)(S*);
template <class S> using SetText = int(VESK_CALL*)(S*, const char*);
template <class S> using SetInt = int(VESK_CALL*)(S*, int); // bytes and bools
template <class S> using SetU32 = int(VESK_CALL*)(S*, std::uint32_t);
template <class S> using SetU64 = int(VESK_CALL*)(S*, std::uint64_t);
template <class S, class T> using SetStruct = int(VESK_CALL*)(S*, const T*);
template <class S> using InsertPair = int(VESK_CALL*)(S*, const char* key, const char* value);
template <class S, class T> using InsertNamed = int(VESK_CALL*)(S*, const char* name, const T*);
template <class S> using InsertInterval = int(VESK_CALL*)(S*, std::uint32_t, std::uint32_t, std::uint32_t,
                                                          std::uint32_t);

} // namespace VESK::Api
