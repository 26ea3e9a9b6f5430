// The "custom_config.xml" reader: whatever the file holds, nothing escapes,
// the log sink gets exactly one line, and the configuration changes all or
// nothing: on a warning not at all, on success only in the fields the file
// may set (server, reports folder, cleanup policy, the manual report's files
// and dump type). A file beyond the size or nesting limit gets its own line,
// and the nesting the reader's scan finds in a file it passes on is the
// nesting the parser builds.
#include "diagnostics/custom_config.h"
#include "diagnostics/custom_config_limits.h"
#include "diagnostics/generate_configuration.h"
#include "log/log_level.h"

#include "fuzz_check.h"
#include "support/parsed_xml_depth.h"
#include "support/unique_folder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Fuzz::require;
using Line = std::pair<int, std::wstring>;

struct Setup {
    TestSupport::UniqueFolder base{"ombrix-fuzz-custom-config-"}; // one per fuzzing process
    Diagnostics::Parameters parameters;
    VESK::Configuration generated; // with no file in the base directory
    std::vector<Line> lines;

    Setup()
    {
        parameters.baseDirectory = base.path().wstring();
        generated = Diagnostics::Private::generateConfiguration(parameters, L"C:\\Temp");
        parameters.logSink = [this](int level, const std::wstring& text) { lines.emplace_back(level, text); };
    }
};

Setup& setup()
{
    static Setup instance;
    return instance;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

VESK::EventConfig* manualReport(VESK::Configuration& configuration)
{
    for (VESK::EventConfig& event : configuration.Events)
        if (event.AssertType == L"manual_report")
            return &event;
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Setup& s = setup();
    std::ofstream(s.base.path() / "custom_config.xml", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    s.lines.clear();
    VESK::Configuration configuration = s.generated;
    Diagnostics::Private::applyCustomConfig(configuration, s.parameters);

    require(s.lines.size() == 1, "one line for a file that exists");
    const auto& [level, text] = s.lines.front();
    using namespace Diagnostics::Private;
    if (size > kCustomConfigMaxBytes) {
        require(text == L"Unable to load custom config: the file is " + std::to_wstring(size) +
                            L" bytes, more than the limit of " + std::to_wstring(kCustomConfigMaxBytes),
                "a file over the size limit is refused by its size");
        require(configuration == s.generated, "a refused file changes nothing");
        return 0;
    }
    const std::string content(reinterpret_cast<const char*>(data), size);
    const std::size_t depth = xmlElementDepth(content);
    if (depth > kCustomConfigMaxDepth) {
        require(text == L"Unable to load custom config: the file is nested deeper than " +
                            std::to_wstring(kCustomConfigMaxDepth) + L" elements",
                "a file beyond the depth limit is refused by its depth");
        require(configuration == s.generated, "a refused file changes nothing");
        return 0;
    }
    if (const std::optional<std::size_t> parsed = TestSupport::parsedXmlDepth(content))
        require(*parsed == depth, "the scan finds the nesting the parser builds");
    if (level == LogLevel::Info) {
        require(text == L"Using custom config file", "success says it uses the file");
        // Put back what the file may set: the rest must be as generated.
        const VESK::Configuration& generated = s.generated;
        configuration.CleanupPolicy = generated.CleanupPolicy;
        configuration.ServerConnection.ServerUrl = generated.ServerConnection.ServerUrl;
        configuration.ReportsWorkingFolder = generated.ReportsWorkingFolder;
        VESK::EventConfig* event = manualReport(configuration);
        require(event != nullptr, "the generated configuration has the manual report event");
        require(static_cast<int>(event->Dump.Type) >= 0 && static_cast<int>(event->Dump.Type) <= 5,
                "the dump type is one of the six names");
        const VESK::EventConfig* original = manualReport(s.generated);
        event->Files = original->Files;
        event->Dump.Type = original->Dump.Type;
        require(configuration == generated, "success changes only the fields the file may set");
    } else {
        require(level == LogLevel::Warning, "a failure is a warning");
        require(startsWith(text, L"Unable to parse custom config: ") || startsWith(text, L"Unable to load custom config: "),
                "a failure says the file could not be parsed or loaded");
        require(configuration == s.generated, "a failure changes nothing");
    }
    return 0;
}
