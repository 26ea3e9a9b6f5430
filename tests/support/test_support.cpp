#include "test_support.h"

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <stdexcept>
#include <thread>

namespace TestSupport {

using System::Win32::UniqueHandle;

std::filesystem::path binDirectory()
{
    std::wstring buffer(32768, L'\0');
    buffer.resize(::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return std::filesystem::path(buffer).parent_path();
}

TempDir::TempDir()
{
    static unsigned counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            (L"ombrix-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) +
             L"-" + std::to_wstring(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

bool sameName(const std::wstring& entry, const std::wstring& name)
{
    // The drives' folders ("=C:=C:\games") have names that start with the separator.
    const std::size_t equals = entry.find(L'=', 1);
    return equals != std::wstring::npos &&
           ::CompareStringOrdinal(entry.c_str(), static_cast<int>(equals), name.c_str(), static_cast<int>(name.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The caller's environment with the additions, as CreateProcessW takes it
// (sorted, each entry ended by a null, the block by another); empty for none.
std::wstring environmentBlock(const EnvironmentAdditions& additions)
{
    if (additions.empty())
        return {};
    std::vector<std::wstring> entries;
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry != L'\0'; entry += std::wcslen(entry) + 1)
            entries.emplace_back(entry);
        ::FreeEnvironmentStringsW(own);
    }
    for (const auto& [name, value] : additions) {
        std::erase_if(entries, [&name](const std::wstring& entry) { return sameName(entry, name); });
        entries.push_back(name + L"=" + value);
    }
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries)
        block += entry + L'\0';
    return block + L'\0';
}

UniqueHandle createProcess(const std::filesystem::path& program, const std::wstring& arguments, HANDLE token,
                           HANDLE output, const EnvironmentAdditions& additions = {})
{
    std::wstring environment = environmentBlock(additions);
    void* const block = environment.empty() ? nullptr : environment.data();
    const DWORD flags = environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT;
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION info{};
    const BOOL inherit = output != nullptr;
    const BOOL started =
        token != nullptr
            ? ::CreateProcessAsUserW(token, program.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags, block,
                                     nullptr, &startup, &info)
            : ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags, block, nullptr,
                               &startup, &info);
    if (!started)
        throw std::runtime_error("cannot start " + program.string() + ": error " + std::to_string(::GetLastError()));
    const UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

} // namespace

ChildResult runProgram(const std::filesystem::path& program, const std::wstring& arguments, HANDLE token,
                       const EnvironmentAdditions& environment)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    UniqueHandle process = createProcess(program, arguments, token, writeEnd.get(), environment);
    writeEnd.reset();

    ChildResult result;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        result.output.append(buffer, read);
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

UniqueHandle startProgram(const std::filesystem::path& program, const std::wstring& arguments,
                          const EnvironmentAdditions& environment)
{
    return createProcess(program, arguments, nullptr, nullptr, environment);
}

UniqueHandle nonAdministratorToken()
{
    UniqueHandle processToken;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, processToken.put()))
        throw std::runtime_error("OpenProcessToken failed");
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    System::Win32::UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, administrators.put()))
        throw std::runtime_error("AllocateAndInitializeSid failed");
    SID_AND_ATTRIBUTES denyOnly{administrators.get(), 0};
    UniqueHandle restricted;
    if (!::CreateRestrictedToken(processToken.get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr,
                                 restricted.put()))
        throw std::runtime_error("CreateRestrictedToken failed");
    return restricted;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> readTextLines(const std::filesystem::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::optional<std::string> missingInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    auto line = lines.begin();
    for (const std::string& text : expected) {
        line = std::find_if(line, lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
        if (line == lines.end())
            return text;
        ++line;
    }
    return std::nullopt;
}

std::vector<std::string> readLogLines(const std::filesystem::path& path)
{
    std::string text = readFile(path);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

namespace {

// Where each of the first `count` " | " separators of a line begins (fewer when
// the line has fewer).
std::vector<std::size_t> separators(const std::string& line, int count)
{
    std::vector<std::size_t> at;
    for (std::size_t from = 0; static_cast<int>(at.size()) < count;) {
        const std::size_t found = line.find(" | ", from);
        if (found == std::string::npos)
            break;
        at.push_back(found);
        from = found + 3;
    }
    return at;
}

// `text` matched whole by `pattern`, whose '*' stands for any text.
bool matchesWhole(std::string_view text, std::string_view pattern)
{
    const std::size_t star = pattern.find('*');
    if (star == std::string_view::npos)
        return text == pattern;
    if (text.substr(0, star) != pattern.substr(0, star))
        return false;
    for (std::size_t from = star; from <= text.size(); ++from)
        if (matchesWhole(text.substr(from), pattern.substr(star + 1)))
            return true;
    return false;
}

} // namespace

std::optional<std::string> missingWholeInOrder(const std::vector<std::string>& lines,
                                               const std::vector<std::string>& expected)
{
    auto line = lines.begin();
    for (const std::string& pattern : expected) {
        line = std::find_if(line, lines.end(), [&](const std::string& l) { return matchesWhole(l, pattern); });
        if (line == lines.end())
            return pattern;
        ++line;
    }
    return std::nullopt;
}

// A line: "TIME - | LEVEL | th(..) | pid(..) | FILE | FUNCTION | LINE | MESSAGE".
std::vector<std::string> readLogMessages(const std::filesystem::path& path)
{
    std::vector<std::string> messages;
    for (const std::string& line : readLogLines(path)) {
        const std::vector<std::size_t> at = separators(line, 7);
        messages.push_back(at.size() < 7 ? line : line.substr(at[6] + 3));
    }
    return messages;
}

std::vector<std::string> readLogEntries(const std::filesystem::path& path)
{
    std::vector<std::string> entries;
    for (const std::string& line : readLogLines(path)) {
        const std::vector<std::size_t> at = separators(line, 7);
        if (at.size() < 7) {
            entries.push_back(line);
            continue;
        }
        const auto field = [&](int i) { return line.substr(at[i] + 3, at[i + 1] - at[i] - 3); };
        entries.push_back(field(0) + " | " + field(4) + " | " + line.substr(at[6] + 3));
    }
    return entries;
}

} // namespace TestSupport
