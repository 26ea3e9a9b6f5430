#include "log/nano/file_log.h"
#include "log/nano/log_naming.h"
#include "support/test_support.h"

#include <aclapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

namespace {

using namespace TestSupport;
using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

constexpr long long kLimit = 1024;
const std::string kBom = "\xEF\xBB\xBF";

class FileLogTest : public testing::Test {
protected:
    void writeLine(const std::filesystem::path& path, const wchar_t* text, int level = 2)
    {
        Nano::FileLog(path.wstring(), kLimit, true).write(L"%s", level, text);
    }

    std::vector<std::filesystem::path> files() const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }

    std::filesystem::path onlyRotatedFile() const
    {
        std::vector<std::filesystem::path> rotated;
        for (const auto& file : files())
            if (file != log_)
                rotated.push_back(file);
        EXPECT_EQ(rotated.size(), 1u);
        return rotated.empty() ? std::filesystem::path() : rotated.front();
    }

    static std::string message(const std::string& line) { return line.substr(line.rfind(" | ") + 3); }

    TempDir dir_;
    std::filesystem::path log_ = dir_ / L"host.log";
};

TEST_F(FileLogTest, NewFileGetsByteOrderMarkHeaderAndCrLf)
{
    writeLine(log_, L"first", 1);
    const std::string bytes = readFile(log_);
    ASSERT_THAT(bytes, StartsWith(kBom));
    const std::regex layout(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| 1 \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| first\r\n)");
    EXPECT_TRUE(std::regex_match(bytes.substr(3), layout)) << bytes;
    char expectedIds[64];
    std::snprintf(expectedIds, sizeof(expectedIds), "th(0x%08lX) | pid(0x%08lX)", ::GetCurrentThreadId(),
                  ::GetCurrentProcessId());
    EXPECT_THAT(bytes, HasSubstr(expectedIds));
}

TEST_F(FileLogTest, AppendsToAnExistingFileWithoutASecondMark)
{
    writeLine(log_, L"one");
    writeLine(log_, L"two");
    const std::string bytes = readFile(log_);
    EXPECT_EQ(bytes.find(kBom, 1), std::string::npos);
    const auto lines = readLogLines(log_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(message(lines[0]), "one");
    EXPECT_EQ(message(lines[1]), "two");
}

TEST_F(FileLogTest, NonAsciiTextIsWrittenAsUtf8)
{
    writeLine(log_, L"J\u00e4ger \u65e5\u5fd7 \u2713 \U0001F600");
    EXPECT_EQ(message(readLogLines(log_).at(0)), "J\xC3\xA4ger \xE6\x97\xA5\xE5\xBF\x97 \xE2\x9C\x93 \xF0\x9F\x98\x80");
}

TEST_F(FileLogTest, LevelIsWrittenAsANumberWhateverItsValue)
{
    writeLine(log_, L"x", 7);
    writeLine(log_, L"y", -1);
    const auto lines = readLogLines(log_);
    EXPECT_THAT(lines.at(0), HasSubstr(" - | 7 | th("));
    EXPECT_THAT(lines.at(1), HasSubstr(" - | -1 | th("));
}

TEST_F(FileLogTest, FileOfExactlyTheLimitIsNotRotatedOneByteMoreIs)
{
    writeFile(log_, kBom + std::string(kLimit - kBom.size(), 'a'));
    writeLine(log_, L"appended");
    EXPECT_THAT(files(), ElementsAre(log_));
    EXPECT_EQ(message(readLogLines(log_).back()), "appended");

    // Now past the limit: the next line starts a new file.
    writeLine(log_, L"fresh");
    const auto rotated = onlyRotatedFile();
    EXPECT_THAT(readFile(rotated), EndsWith("appended\r\n"));
    EXPECT_THAT(readFile(log_), StartsWith(kBom));
    ASSERT_EQ(readLogLines(log_).size(), 1u);
    EXPECT_EQ(message(readLogLines(log_)[0]), "fresh");
}

TEST_F(FileLogTest, SizeLimitsOfAtMost1024BecomeThatValue)
{
    for (long long limit : {-5LL, 0LL, 10LL, 1024LL}) {
        TempDir dir;
        const auto path = dir / L"small.log";
        writeFile(path, std::string(1024, 'a'));
        Nano::FileLog(path.wstring(), limit, true).write(L"%s", 2, L"x");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << limit;
    }
}

TEST_F(FileLogTest, RotatedNameReplacesOnlyAnExactLowerCaseLogSuffix)
{
    struct Case {
        const wchar_t* file;
        const wchar_t* rotatedPattern;
    };
    for (const Case& c : {Case{L"host.log", LR"(host_\d+\.log)"}, Case{L"host.LOG", LR"(host\.LOG_\d+\.log)"},
                          Case{L"host.txt", LR"(host\.txt_\d+\.log)"}}) {
        TempDir dir;
        writeFile(dir / c.file, std::string(2000, 'a'));
        writeLine(dir / c.file, L"x");
        std::vector<std::wstring> rotated;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().filename() != c.file)
                rotated.push_back(entry.path().filename().wstring());
        ASSERT_EQ(rotated.size(), 1u) << c.file;
        EXPECT_TRUE(std::regex_match(rotated[0], std::wregex(c.rotatedPattern))) << rotated[0];
    }
}

// When the tick-count name is already taken, the full file goes to a free name
// and the line is written; nothing that was there before is touched. (Which
// name is free depends on the clock; the choice itself is tested on its own.)
TEST_F(FileLogTest, RotationIntoATakenNameChoosesAFreeOneAndKeepsTheLine)
{
    const unsigned long now = ::GetTickCount();
    constexpr unsigned long kWindow = 200;
    for (unsigned long tick = now; tick < now + kWindow; ++tick)
        writeFile(Nano::rotatedLogPath(log_.wstring(), tick), "taken");
    writeFile(log_, std::string(2000, 'c'));
    writeLine(log_, L"kept");

    EXPECT_EQ(message(readLogLines(log_).at(0)), "kept");
    int moved = 0;
    for (const auto& file : files()) {
        if (file == log_)
            continue;
        const std::string content = readFile(file);
        if (content == "taken")
            continue;
        ++moved;
        EXPECT_EQ(content, std::string(2000, 'c'));
        EXPECT_TRUE(std::regex_match(file.filename().wstring(), std::wregex(LR"(host_\d+(_1)?\.log)")));
    }
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(files().size(), kWindow + 2);
}

// A file that cannot be renamed (held open without delete sharing) keeps
// receiving lines; the rotation happens once it is free again.
TEST_F(FileLogTest, FailedRotationWritesTheLineToTheCurrentFile)
{
    writeFile(log_, std::string(2000, 'd'));
    {
        System::Win32::UniqueFileHandle holder(::CreateFileW(log_.c_str(), GENERIC_READ,
                                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        writeLine(log_, L"while held");
        EXPECT_THAT(files(), ElementsAre(log_));
        EXPECT_THAT(readFile(log_), EndsWith("while held\r\n"));
    }
    writeLine(log_, L"after");
    EXPECT_THAT(readFile(onlyRotatedFile()), EndsWith("while held\r\n"));
    EXPECT_EQ(message(readLogLines(log_).at(0)), "after");
}

// Windows' runtime refuses to append to a file that starts with the UTF-16
// big-endian mark; Wine's appends UTF-8 after it. Either way the file must not
// silence the log: it is moved aside untouched and a new file started.
TEST_F(FileLogTest, BigEndianMarkedFileIsMovedAsideAndANewFileStarted)
{
    const std::string bigEndian("\xFE\xFF\x00\x41", 4);
    writeFile(log_, bigEndian);
    writeLine(log_, L"after the big-endian file");
    EXPECT_EQ(readFile(onlyRotatedFile()), bigEndian);
    EXPECT_THAT(readFile(log_), StartsWith(kBom));
    EXPECT_EQ(message(readLogLines(log_).at(0)), "after the big-endian file");
}

TEST_F(FileLogTest, LittleEndianMarkedFileIsContinuedInUtf16)
{
    writeFile(log_, std::string("\xFF\xFE" "A\0\r\0\n\0", 8));
    writeLine(log_, L"wide \u00e4");
    const std::string bytes = readFile(log_);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_THAT(text, StartsWith(L"A\r\n"));
    EXPECT_THAT(text, EndsWith(L" | wide \u00e4\r\n"));
}

TEST_F(FileLogTest, EmptyPathIsRefused)
{
    try {
        Nano::FileLog(L"", kLimit, true);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "log filename is empty");
    }
}

TEST_F(FileLogTest, MutexIsNamedAfterTheFileNameWithItsCase)
{
    const std::wstring name = L"Mutex-" + std::to_wstring(::GetCurrentProcessId()) + L".log";
    const Nano::LogMutex mutex((dir_ / name).wstring());
    System::Win32::UniqueHandle same(::OpenMutexW(SYNCHRONIZE, FALSE, (L"Local\\" + name).c_str()));
    EXPECT_TRUE(same);
    std::wstring lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    System::Win32::UniqueHandle other(::OpenMutexW(SYNCHRONIZE, FALSE, (L"Local\\" + lower).c_str()));
    EXPECT_FALSE(other);
}

TEST_F(FileLogTest, MutexAdmitsUsersAndLocalSystemWithFullAccess)
{
    const Nano::LogMutex mutex(log_.wstring());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex.handle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const System::Win32::UniqueLocalMemory owner(descriptor);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 2);
    const WELL_KNOWN_SID_TYPE expected[] = {WinBuiltinUsersSid, WinLocalSystemSid};
    for (DWORD i = 0; i < 2; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags, 0);
        EXPECT_EQ(allowed->Mask, static_cast<DWORD>(MUTEX_ALL_ACCESS));
        EXPECT_TRUE(::IsWellKnownSid(&allowed->SidStart, expected[i])) << i;
    }
}

// Four processes write 500 lines each into one small file: every line arrives
// exactly once and whole, across the current and the rotated files.
TEST_F(FileLogTest, ConcurrentProcessesLoseNoLine)
{
    constexpr int kWriters = 4;
    constexpr int kLines = 500;
    std::vector<System::Win32::UniqueHandle> writers;
    for (int writer = 0; writer < kWriters; ++writer)
        writers.push_back(startProgram(binDirectory() / L"log_writer.exe",
                                       L"\"" + log_.wstring() + L"\" " + std::to_wstring(writer) + L" " +
                                           std::to_wstring(kLines)));
    for (auto& process : writers) {
        ASSERT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
        DWORD code = 1;
        ::GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, 0u);
    }

    std::map<std::string, int> seen;
    const std::regex whole(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| 2 \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| (writer \d line \d+) \.{40})");
    for (const auto& file : files()) {
        EXPECT_THAT(readFile(file), StartsWith(kBom)) << file;
        for (const std::string& line : readLogLines(file)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
            ++seen[match[1]];
        }
    }
    EXPECT_GT(files().size(), 100u);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kWriters * kLines));
    for (const auto& [line, count] : seen)
        EXPECT_EQ(count, 1) << line;
}

} // namespace
