#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Log {

// The part of a source path after its last backslash; the whole path when it has none.
std::string_view sourceFileName(std::string_view path);

// Reduces a compiler's full function signature to the qualified name a reader
// looks for: "virtual long CUpdatePlugin::initialize(IPluginSystem*)" becomes
// "CUpdatePlugin::initialize", and the unnamed namespace reads "`anonymous-namespace'".
std::string qualifiedFunctionName(std::string_view signature);

// "%1% | %2% | %3% | %4%": file, function, line, message. The result is itself a
// printf format, since the message carries the placeholders of its values.
std::wstring composeEnvelope(std::string_view file, std::string_view signature, std::uint_least32_t line,
                             std::wstring_view message);

// "plugin_id: %u | %s", the message's own placeholders left untouched. Part of
// every log statement of a plug-in's objects, so it never throws: without
// memory for the text the message is empty.
std::wstring withPluginId(std::uint32_t pluginId, std::wstring_view message) noexcept;

} // namespace Log

using Log::withPluginId;
