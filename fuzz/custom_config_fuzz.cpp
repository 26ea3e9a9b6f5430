// The "custom_config.xml" reader: whatever the file holds, nothing escapes,
// the log sink gets exactly one line, and the configuration changes all or
// nothing: on a warning not at all, on success only in the fields the file
// may set (server, reports folder, cleanup policy, the manual report's files
// and dump type).
#include "diagnostics/custom_config.h"
#include "diagnostics/generate_configuration.h"
#include "log/log_level.h"

#include "fuzz_check.h"
#include "support/unique_folder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
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
