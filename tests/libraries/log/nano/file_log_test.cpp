#include "log/nano/file_log.h"
#include "log/nano/log_naming.h"
#include "support/test_support.h"

#include <aclapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <thread>

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

// A log that keeps its file open between lines counts what it wrote: the file
// is still moved aside once full, and only a new file gets a mark.
TEST_F(FileLogTest, FileKeptOpenBetweenLinesRotatesAsOneClosedAfterEachLine)
{
    constexpr int kLines = 40;
    {
        Nano::FileLog log(log_.wstring(), kLimit, false);
        for (int i = 0; i < kLines; ++i)
            log.write(L"line %d %s", 2, i, std::wstring(40, L'.').c_str());
    }
    std::set<std::string> seen;
    for (const auto& file : files()) {
        const std::string bytes = readFile(file);
        EXPECT_THAT(bytes, StartsWith(kBom)) << file;
        EXPECT_EQ(bytes.find(kBom, 1), std::string::npos) << file;
        if (file != log_) {
            EXPECT_GT(bytes.size(), static_cast<std::size_t>(kLimit)) << file;
        }
        for (const std::string& line : readLogLines(file))
            EXPECT_TRUE(seen.insert(message(line)).second) << line;
    }
    EXPECT_GE(files().size(), 3u);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kLines));
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

// Two rotations within one tick-count value: each full file goes to a free
// name of its own and the line is written; nothing that was there is touched.
TEST_F(FileLogTest, RotationIntoATakenNameChoosesAFreeOneAndKeepsTheLine)
{
    Nano::LogTiming sameTick;
    sameTick.tickCount = [] { return 42ul; };
    const std::filesystem::path taken = dir_ / L"host_42.log";
    writeFile(taken, "taken");
    for (const auto& [line, expected] : {std::pair(L"first", "first"), std::pair(L"second", "second")}) {
        writeFile(log_, std::string(2000, 'c'));
        Nano::FileLog(log_.wstring(), kLimit, true, sameTick).write(L"%s", 2, line);
        EXPECT_EQ(message(readLogLines(log_).at(0)), expected);
    }
    EXPECT_THAT(files(), ElementsAre(log_, taken, dir_ / L"host_42_1.log", dir_ / L"host_42_2.log"));
    EXPECT_EQ(readFile(taken), "taken");
    EXPECT_EQ(readFile(dir_ / L"host_42_1.log"), std::string(2000, 'c'));
    EXPECT_EQ(readFile(dir_ / L"host_42_2.log"), std::string(2000, 'c'));
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

// Another program holding the file without sharing for a moment costs no line:
// the writer waits, holding both its mutexes (the one of the file and the one
// older hosts know by the file's name), and writes once the file is free.
TEST_F(FileLogTest, FileHeldBrieflyWithoutSharingDelaysTheLine)
{
    writeLine(log_, L"before");
    System::Win32::UniqueFileHandle holder(
        ::CreateFileW(log_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const auto heldByAnotherThread = [](const std::wstring& name) {
        bool held = false;
        std::thread([&] {
            System::Win32::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
            held = mutex && ::WaitForSingleObject(mutex.get(), 0) == WAIT_TIMEOUT;
        }).join();
        return held;
    };
    int pauses = 0;
    Nano::LogTiming timing;
    timing.pause = [&](unsigned) {
        if (++pauses > 1)
            return;
        EXPECT_TRUE(heldByAnotherThread(Nano::logMutexName(log_.wstring())));
        EXPECT_TRUE(heldByAnotherThread(Nano::fileMutexName(Nano::canonicalFoldedPath(log_.wstring()))));
        holder.reset();
    };
    Nano::FileLog(log_.wstring(), kLimit, true, timing).write(L"%s", 2, L"after");
    EXPECT_EQ(pauses, 1);
    const auto lines = readLogLines(log_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(message(lines[1]), "after");
}

// Every spelling of one file gives one text, hence one mutex; other files another.
TEST_F(FileLogTest, CanonicalPathIsTheSameForEverySpellingOfTheFile)
{
    const std::wstring dir = dir_.path().wstring();
    writeFile(dir_ / L"J\u00e4ger-long-name.log", "x");
    std::wstring shortDir(MAX_PATH, L'\0');
    shortDir.resize(::GetShortPathNameW(dir.c_str(), shortDir.data(), MAX_PATH));
    ASSERT_NE(shortDir, dir) << "the folder has no short name to spell it with";
    std::wstring shortFile(MAX_PATH, L'\0');
    const std::wstring longFile = dir + L"\\J\u00e4ger-long-name.log";
    shortFile.resize(::GetShortPathNameW(longFile.c_str(), shortFile.data(), MAX_PATH));
    std::wstring slashes = dir + L"/host.log";
    std::replace(slashes.begin(), slashes.end(), L'\\', L'/');

    const struct {
        std::wstring usual;
        std::wstring other;
        bool same;
    } cases[] = {
        {dir + L"\\host.log", dir + L"\\HOST.LOG", true},
        {dir + L"\\host.log", slashes, true},
        {dir + L"\\host.log", dir + L"\\.\\sub\\..\\\\host.log", true},
        {dir + L"\\host.log", L"\\\\?\\" + dir + L"\\host.log", true},
        {dir + L"\\host.log", shortDir + L"\\host.log", true},
        {dir + L"\\\u043b\u043e\u0433.log", dir + L"\\\u041b\u041e\u0413.LOG", true},
        {longFile, dir + L"\\J\u00c4GER-LONG-NAME.LOG", true},
        {longFile, shortFile, true},
        {dir + L"\\missing\\host.log", dir + L"\\MISSING\\HOST.log", true},
        {dir + L"\\host.log", dir + L"\\host2.log", false},
        {dir + L"\\host.log", dir + L"\\sub\\host.log", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Nano::canonicalFoldedPath(c.usual) == Nano::canonicalFoldedPath(c.other), c.same)
            << c.usual << L" / " << c.other;
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

std::string utf16Bytes(std::wstring_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// The bytes of one line by what the file held before, as the runtime's UTF-8
// text mode wrote them: a mark only into an empty file, a UTF-16LE file
// continued as such, every '\n' (one after '\r' too) made CR LF.
TEST_F(FileLogTest, LineIsWrittenAsTheRuntimesTextModeWroteIt)
{
    const std::string utf16Mark = "\xFF\xFE";
    const struct {
        const char* name;
        std::optional<std::string> before; // no file at all
        const wchar_t* format;              // a %c takes the NUL character
        std::string start;                  // the file up to the line's header
        std::string end;                    // after the header
        bool utf16;
    } cases[] = {
        {"NoFile", std::nullopt, L"a\nb\r\nc", kBom, "a\r\nb\r\r\nc\r\n", false},
        {"EmptyFile", "", L"x", kBom, "x\r\n", false},
        {"UnmarkedFile", "plain\r\n", L"x", "plain\r\n", "x\r\n", false},
        {"OneByteIsNoBigEndianMark", "\xFE", L"x", "\xFE", "x\r\n", false},
        {"LittleEndianFile", utf16Mark, L"a\nb \u00e4", utf16Mark, utf16Bytes(L"a\r\nb \u00e4\r\n"), true},
        {"LoneSurrogate", std::nullopt, L"\xD800x", kBom, "\xEF\xBF\xBDx\r\n", false},
        {"NulEndsTheMessageNotTheLine", std::nullopt, L"a%cb", kBom, "a\r\n", false},
    };
    const std::regex header(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| 2 \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| )");
    for (const auto& c : cases) {
        TempDir dir;
        const auto path = dir / L"host.log";
        if (c.before)
            writeFile(path, *c.before);
        Nano::FileLog(path.wstring(), kLimit, true).write(c.format, 2, L'\0');
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.name;
        const std::string bytes = readFile(path);
        ASSERT_GE(bytes.size(), c.start.size() + c.end.size()) << c.name;
        EXPECT_EQ(bytes.substr(0, c.start.size()), c.start) << c.name;
        EXPECT_EQ(bytes.substr(bytes.size() - c.end.size()), c.end) << c.name;
        std::string between = bytes.substr(c.start.size(), bytes.size() - c.start.size() - c.end.size());
        if (c.utf16) {
            const std::wstring wide(reinterpret_cast<const wchar_t*>(between.data()), between.size() / 2);
            between.clear();
            for (const wchar_t unit : wide)
                between += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        EXPECT_TRUE(std::regex_match(between, header)) << c.name << ": " << between;
    }
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

// Writer processes write 500 lines each into one small file, each naming the
// file its own way: every line arrives exactly once and whole, across the
// current and the rotated files. Wine's file system, like Windows', ignores
// letter case and takes either slash, while mutex names differ with either.
using Spelling = std::wstring (*)(const std::wstring& dir);

struct WritersCase {
    const char* name;
    std::vector<Spelling> writers;
};

std::wstring usual(const std::wstring& dir)
{
    return dir + L"\\host.log";
}

void PrintTo(const WritersCase& c, std::ostream* out)
{
    *out << c.name;
}

class ConcurrentWriters : public FileLogTest, public testing::WithParamInterface<WritersCase> {};

TEST_P(ConcurrentWriters, LoseNoLine)
{
    constexpr int kLines = 500;
    const std::wstring dir = dir_.path().wstring();
    const std::vector<Spelling>& spellings = GetParam().writers;
    std::vector<System::Win32::UniqueHandle> writers;
    for (std::size_t writer = 0; writer < spellings.size(); ++writer)
        writers.push_back(startProgram(binDirectory() / L"log_writer.exe",
                                       L"\"" + spellings[writer](dir) + L"\" " + std::to_wstring(writer) + L" " +
                                           std::to_wstring(kLines)));
    for (auto& process : writers) {
        ASSERT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
        DWORD code = 1;
        ::GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, 0u);
    }

    std::map<std::string, int> seen;
    const std::regex whole(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| 2 \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| (writer \d line \d+) \.{40})");
    const std::wregex rotated(LR"(.*_\d+(_\d+)?\.log)");
    for (const auto& file : files()) {
        EXPECT_THAT(readFile(file), StartsWith(kBom)) << file;
        // One rotation at a time: a file is moved aside only once it is full.
        // (The current file has the letter case of whoever created it last.)
        if (std::regex_match(file.filename().wstring(), rotated)) {
            EXPECT_GT(std::filesystem::file_size(file), static_cast<std::uintmax_t>(kLimit)) << file;
        }
        for (const std::string& line : readLogLines(file)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
            ++seen[match[1]];
        }
    }
    EXPECT_GT(files().size(), 50u);
    ASSERT_EQ(seen.size(), spellings.size() * kLines) << "lines kept of the lines written";
    for (const auto& [line, count] : seen)
        EXPECT_EQ(count, 1) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ConcurrentWriters,
    testing::Values(WritersCase{"SameSpelling", {usual, usual, usual, usual}},
                    WritersCase{"LetterCase", {usual, [](const std::wstring& dir) { return dir + L"\\HOST.log"; }}},
                    WritersCase{"ForwardSlashes", {usual, [](const std::wstring& dir) {
                                                       std::wstring path = dir + L"/host.log";
                                                       std::replace(path.begin(), path.end(), L'\\', L'/');
                                                       return path;
                                                   }}},
                    WritersCase{"NonAsciiLetterCase",
                                {[](const std::wstring& dir) { return dir + L"\\J\u00e4ger.log"; },
                                 [](const std::wstring& dir) { return dir + L"\\J\u00c4GER.LOG"; }}}),
    [](const testing::TestParamInfo<WritersCase>& info) { return info.param.name; });

} // namespace
