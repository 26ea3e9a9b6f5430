#include "custom_config.h"

#include "custom_config_limits.h"
#include "errors.h"
#include "err/utf.h"
#include "log/log_level.h"

#include <cereal/archives/xml.hpp>
#include <cereal/types/map.hpp>
#include <cereal/types/string.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace Diagnostics::Private {

namespace {

using ParsingFailed = Err::GenericError<ConfigErrors::ParsingFailed_traits>;

struct Restrictions {
    std::uint32_t MaxFilesCount = 0;
    std::uint32_t MaxFilesSizeKb = 0;
    std::uint64_t ModifiedLessThanDays = 0;

    template <class Archive>
    void load(Archive& archive)
    {
        archive(CEREAL_NVP(MaxFilesCount), CEREAL_NVP(MaxFilesSizeKb), CEREAL_NVP(ModifiedLessThanDays));
    }
};

struct Connection {
    std::string ServerUrl;

    template <class Archive>
    void load(Archive& archive)
    {
        archive(CEREAL_NVP(ServerUrl));
    }
};

struct Cleanup {
    std::uint64_t MaxSizeKb = 0;
    std::uint64_t MaxAgeDays = 30;
    std::uint64_t MaxCount = 10;

    template <class Archive>
    void load(Archive& archive)
    {
        archive(CEREAL_NVP(MaxSizeKb), CEREAL_NVP(MaxAgeDays), CEREAL_NVP(MaxCount));
    }
};

// The dump type by its name in the file.
struct DumpTypeName {
    VESK::DumpType value = VESK::DumpType::Mini;

    static constexpr const char* names[] = {"none", "micro", "milli", "mini", "medium", "full"};

    template <class Archive>
    void load_minimal(const Archive&, const std::string& name)
    {
        for (std::size_t i = 0; i < std::size(names); ++i)
            if (name == names[i]) {
                value = static_cast<VESK::DumpType>(i);
                return;
            }
        throw cereal::Exception("Unexpected DumpType");
    }
    // cereal wants the pair, although the file is only read.
    template <class Archive>
    std::string save_minimal(const Archive&) const
    {
        return names[static_cast<std::size_t>(value)];
    }
};

struct CustomConfig {
    Connection ConnectionConfig;
    std::string ReportsFolder;
    Cleanup CleanupPolicy;
    DumpTypeName ManualReportDumpType;
    std::map<std::string, Restrictions> ManualReportFiles; // a repeated key keeps its first value

    template <class Archive>
    void load(Archive& archive)
    {
        archive(CEREAL_NVP(ConnectionConfig), CEREAL_NVP(ReportsFolder), CEREAL_NVP(CleanupPolicy),
                CEREAL_NVP(ManualReportDumpType), CEREAL_NVP(ManualReportFiles));
    }
};

// Element texts are taken byte by byte, not decoded.
std::wstring widenBytes(const std::string& text)
{
    std::wstring wide;
    for (const char c : text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

// Messages are UTF-8; the log sink takes wide text. (Natively, in tests, the
// messages are ASCII.)
std::wstring fromUtf8Message(const std::string& text)
{
#ifdef _WIN32
    return Err::fromUtf8(text);
#else
    return widenBytes(text);
#endif
}

// The file's bytes, within the limits of custom_config_limits.h: refused by its
// size before one is read, and by its nesting before the parser, which recurses
// once per element, sees it.
std::string readWithinLimits(const std::filesystem::path& path)
{
    const std::uintmax_t size = std::filesystem::file_size(path);
    if (size > kCustomConfigMaxBytes)
        throw std::runtime_error("the file is " + std::to_string(size) + " bytes, more than the limit of " +
                                 std::to_string(kCustomConfigMaxBytes));
    std::string content(static_cast<std::size_t>(size), '\0');
    std::ifstream file(path, std::ios::binary);
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(file.gcount())); // a file shrunk meanwhile; one grown is read to its size
    if (xmlElementDepth(content) > kCustomConfigMaxDepth)
        throw std::runtime_error("the file is nested deeper than " + std::to_string(kCustomConfigMaxDepth) +
                                 " elements");
    return content;
}

CustomConfig parse(const std::filesystem::path& path)
{
    std::istringstream content(readWithinLimits(path));
    CustomConfig loaded;
    try {
        cereal::XMLInputArchive archive(content);
        // The named values are the root's own children.
        loaded.load(archive);
    } catch (const cereal::Exception& e) {
        throw ParsingFailed(e, "");
    }
    return loaded;
}

void apply(VESK::Configuration& configuration, const CustomConfig& loaded)
{
    configuration.CleanupPolicy = {loaded.CleanupPolicy.MaxSizeKb, loaded.CleanupPolicy.MaxCount,
                                   loaded.CleanupPolicy.MaxAgeDays};
    configuration.ServerConnection.ServerUrl = widenBytes(loaded.ConnectionConfig.ServerUrl);
    configuration.ReportsWorkingFolder = widenBytes(loaded.ReportsFolder);
    for (VESK::EventConfig& event : configuration.Events) {
        if (event.AssertType != L"manual_report")
            continue;
        event.Files.clear();
        for (const auto& [name, restrictions] : loaded.ManualReportFiles)
            event.Files[widenBytes(name)] = {restrictions.MaxFilesCount, restrictions.MaxFilesSizeKb,
                                             restrictions.ModifiedLessThanDays};
        event.Dump.Type = loaded.ManualReportDumpType.value;
        break;
    }
}

} // namespace

void applyCustomConfig(VESK::Configuration& configuration, const Parameters& parameters)
{
    const auto report = [&](int level, const std::wstring& text) {
        if (parameters.logSink)
            parameters.logSink(level, text);
    };
    try {
        const std::filesystem::path path = std::filesystem::path(parameters.baseDirectory) / kCustomConfigFileName;
        std::error_code ignored;
        if (!std::filesystem::exists(path, ignored))
            return;
        const CustomConfig loaded = parse(path);
        report(LogLevel::Info, L"Using custom config file");
        apply(configuration, loaded);
    } catch (const ParsingFailed& e) {
        report(LogLevel::Warning, L"Unable to parse custom config: " + fromUtf8Message(e.what()));
    } catch (const std::exception& e) {
        report(LogLevel::Warning, L"Unable to load custom config: " + fromUtf8Message(e.what()));
    }
}

} // namespace Diagnostics::Private
