#include "monitor_client_standin.h"

#include <windows.h>

namespace TestSupport {

std::filesystem::path standinDirectory()
{
    return binDirectory() / L"monitor_client_standin";
}

std::filesystem::path coreOnlyStandinDirectory()
{
    return binDirectory() / L"monitor_client_standin_core_only";
}

ScopedEnvironment::ScopedEnvironment(std::wstring name, const std::wstring& value) : name_(std::move(name))
{
    ::SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment()
{
    ::SetEnvironmentVariableW(name_.c_str(), nullptr);
}

StandinRecord::StandinRecord() : variable_(L"OMBRIX_STANDIN_RECORD", (dir_ / L"record.txt").wstring())
{
}

std::vector<std::string> StandinRecord::lines() const
{
    std::vector<std::string> lines;
    const std::string text = readFile(dir_ / L"record.txt");
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace TestSupport
