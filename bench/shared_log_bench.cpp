// Shared log: lines per second that 1 and 4 writer processes get into one log
// file through the host's file log (Nano::FileLog, closed after every line, as
// every host process opens it), against the bare loop written out here: wait
// for a named mutex, open the file, append the line, close, release. Both use
// the smallest size limit, so the file rotates every dozen lines or so.
//   shared_log_bench [FOLDER]                                  the figures
//   shared_log_bench writer ours|bare LOG LINES RUN            one writer
#include "bench_report.h"
#include "log/nano/file_log.h"
#include "support/test_support.h"
#include "system/win32/unique_resource.h"

#include <gsl/util>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using System::Win32::UniqueFileHandle;
using System::Win32::UniqueHandle;

constexpr long long kSizeLimit = 1024; // the smallest the file log takes
constexpr int kLinesPerWriter = 1200;
constexpr int kRounds = 9;
constexpr DWORD kPatience = 120000; // ms for a writer to be ready, or done
const std::wstring kMessage = L"writer line " + std::wstring(40, L'.');

// What every writer needs at least: one named mutex around open, append and
// close, and a full file moved aside under a name of its own.
class BareLog {
public:
    explicit BareLog(std::wstring path)
        : path_(std::move(path))
        , mutex_(::CreateMutexW(nullptr, FALSE, L"Local\\ombrix-bench-bare-log"))
    {
        if (!mutex_)
            throw std::runtime_error("CreateMutexW failed");
    }

    void write(const std::wstring& message)
    {
        // The same bytes as the file log's lines: its header, the message, CR LF.
        SYSTEMTIME now;
        ::GetSystemTime(&now);
        char line[256];
        const int length =
            std::snprintf(line, sizeof(line), "%04u-%02u-%02uT%02u:%02u:%02u - | 2 | th(0x%08lX) | pid(0x%08lX) | %ls\r\n",
                          now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                          ::GetCurrentThreadId(), ::GetCurrentProcessId(), message.c_str());
        ::WaitForSingleObject(mutex_.get(), INFINITE);
        const auto release = gsl::finally([this] { ::ReleaseMutex(mutex_.get()); });
        UniqueFileHandle file = open();
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > kSizeLimit) {
            file.reset();
            const std::wstring aside = path_ + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                       std::to_wstring(++rotations_) + L".log";
            ::MoveFileW(path_.c_str(), aside.c_str());
            file = open();
        }
        DWORD written = 0;
        ::WriteFile(file.get(), line, static_cast<DWORD>(length), &written, nullptr);
    }

private:
    UniqueFileHandle open() const
    {
        UniqueFileHandle file(::CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            throw std::runtime_error("cannot open the log");
        return file;
    }

    std::wstring path_;
    UniqueHandle mutex_;
    unsigned rotations_ = 0;
};

// The signals between the measuring process and its writers, named after the run.
struct Signals {
    std::wstring ready, go, done;
    explicit Signals(const std::wstring& run)
        : ready(L"Local\\ombrix-bench-log-ready-" + run)
        , go(L"Local\\ombrix-bench-log-go-" + run)
        , done(L"Local\\ombrix-bench-log-done-" + run)
    {
    }
};

// One writer process: ready once its log is set up, writing once all are, and
// done before it ends (a process's end under Wine takes long and varies).
template <typename Log>
int writeLines(Log& log, int lines, const Signals& names)
{
    const UniqueHandle ready(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, names.ready.c_str()));
    const UniqueHandle done(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, names.done.c_str()));
    const UniqueHandle go(::OpenEventW(SYNCHRONIZE, FALSE, names.go.c_str()));
    // Not for ever: the measuring process may have given up on another writer.
    if (!ready || !done || !go || !::ReleaseSemaphore(ready.get(), 1, nullptr) ||
        ::WaitForSingleObject(go.get(), kPatience) != WAIT_OBJECT_0)
        return 3;
    for (int line = 0; line < lines; ++line)
        log.write(L"%s", 2, kMessage.c_str());
    return ::ReleaseSemaphore(done.get(), 1, nullptr) ? 0 : 3;
}

// BareLog in the file log's calling shape, so one writeLines serves both.
struct BareWriter {
    BareLog log;
    void write(const wchar_t*, int, const wchar_t* message) { log.write(message); }
};

int writer(int argc, wchar_t** argv)
{
    if (argc != 6)
        return 2;
    const std::wstring mode = argv[2], path = argv[3];
    const int lines = std::stoi(argv[4]);
    const Signals names(argv[5]);
    if (mode == L"ours") {
        Nano::FileLog log(path, kSizeLimit, true);
        return writeLines(log, lines, names);
    }
    BareWriter log{BareLog(path)};
    return writeLines(log, lines, names);
}

std::size_t linesIn(const std::filesystem::path& folder)
{
    std::size_t lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string text = TestSupport::readFile(entry.path());
        for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2)
            ++lines;
    }
    return lines;
}

// Lines per second of `writers` processes writing kLinesPerWriter lines each
// into a fresh folder, from the moment all are ready until all are done.
double linesPerSecond(const wchar_t* mode, int writers)
{
    static int runs = 0;
    const std::wstring run = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
    const Signals names(run);
    const UniqueHandle ready(::CreateSemaphoreW(nullptr, 0, writers, names.ready.c_str()));
    const UniqueHandle done(::CreateSemaphoreW(nullptr, 0, writers, names.done.c_str()));
    const UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, names.go.c_str()));
    if (!ready || !done || !go)
        throw std::runtime_error("cannot create the writers' signals");
    const TestSupport::TempDir dir;
    const std::wstring arguments = std::wstring(L"writer ") + mode + L" \"" + (dir / L"host.log").wstring() + L"\" " +
                                   std::to_wstring(kLinesPerWriter) + L" " + run;
    std::vector<UniqueHandle> processes;
    for (int i = 0; i < writers; ++i)
        processes.push_back(TestSupport::startProgram(Bench::ownProgram(), arguments));
    const auto waitForAll = [&](HANDLE semaphore) {
        for (int i = 0; i < writers; ++i)
            if (::WaitForSingleObject(semaphore, kPatience) != WAIT_OBJECT_0)
                throw std::runtime_error("a writer failed");
    };
    waitForAll(ready.get());
    const auto start = Clock::now();
    ::SetEvent(go.get());
    waitForAll(done.get());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const UniqueHandle& process : processes) {
        DWORD exitCode = 1;
        if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(process.get(), &exitCode) || exitCode != 0)
            throw std::runtime_error("a writer failed");
    }
    // A writer that dropped lines would only look fast.
    if (linesIn(dir.path()) != static_cast<std::size_t>(writers) * kLinesPerWriter)
        throw std::runtime_error("lines are missing from the log files");
    return writers * kLinesPerWriter / seconds;
}

Bench::Figure sharedLog(const char* name, int writers)
{
    return Bench::measure({name, "lines/s", true, 0.8}, kRounds, [=] { return linesPerSecond(L"ours", writers); },
                          [=] { return linesPerSecond(L"bare", writers); });
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wstring(argv[1]) == L"writer")
        return writer(argc, argv);
    return Bench::runBenchmark(argc, argv, [] {
        return std::vector<Bench::Figure>{
            sharedLog("shared log, 1 writer process", 1),
            sharedLog("shared log, 4 writer processes", 4),
        };
    });
}
