#pragma once

#include "system/win32/unique_resource.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// The folder of the running test program, where every program of the build lies.
std::filesystem::path binDirectory();

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::wstring& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct ChildResult {
    unsigned long exitCode = 0;
    std::string output; // what the child wrote to standard output
};

// Variables a child gets on top of the caller's own environment, name and
// value; a name the caller has already (in any letter case) gets this value.
// The child's own children inherit them: {{L"TEST_PLUGIN_DIARY", path}} given
// to the simulator reaches the plug-ins of the hosts it starts.
using EnvironmentAdditions = std::vector<std::pair<std::wstring, std::wstring>>;

// Starts a program with the given arguments, collects its standard output and
// waits for it to end. With a token, the child runs under that token.
ChildResult runProgram(const std::filesystem::path& program, const std::wstring& arguments,
                       HANDLE token = nullptr, const EnvironmentAdditions& environment = {});

// Starts a program and returns at once with its process handle.
System::Win32::UniqueHandle startProgram(const std::filesystem::path& program, const std::wstring& arguments,
                                         const EnvironmentAdditions& environment = {});

// A token like the caller's with the Administrators group for deny only:
// a process started with it is not an administrator (every Wine process is).
System::Win32::UniqueHandle nonAdministratorToken();

std::string readFile(const std::filesystem::path& path);
// The lines of a text file as a text stream reads them (a transcript, say).
std::vector<std::string> readTextLines(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Which of `expected` is the first not found in `lines` in order, each as a
// substring of a later line than the one before; none when all are.
std::optional<std::string> missingInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected);

// The lines of a UTF-8 log file without its byte-order mark, split at CR LF.
std::vector<std::string> readLogLines(const std::filesystem::path& path);
// Each line's message: what follows the header and the call site (the seventh " | ").
std::vector<std::string> readLogMessages(const std::filesystem::path& path);
// Each line as "LEVEL | FUNCTION | MESSAGE": what a reader of the log searches
// by, without the time, the thread and process ids, the file and the line number.
std::vector<std::string> readLogEntries(const std::filesystem::path& path);

// Which of `expected` is the first not matched, whole, by a later line than the
// one before; none when all are. A '*' in an expected line stands for any text
// (a path, an address), nothing else is a pattern.
std::optional<std::string> missingWholeInOrder(const std::vector<std::string>& lines,
                                               const std::vector<std::string>& expected);

} // namespace TestSupport
