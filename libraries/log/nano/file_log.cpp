#include "file_log.h"

#include "log/wide_format.h"

#include <gsl/util>

#include <cstddef>
#include <initializer_list>
#include <stdexcept>

namespace Nano {

namespace {

constexpr long long kMinimumSizeLimit = 1024;

std::wstring formatWide(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = Log::formatWide(format, args);
    va_end(args);
    return text;
}

std::wstring nonEmpty(std::wstring path)
{
    if (path.empty())
        throw std::runtime_error("log filename is empty");
    return path;
}

template <typename Make>
std::shared_ptr<LogMutex> mutexOrNone(Make make) noexcept
{
    try {
        return std::make_shared<LogMutex>(make());
    } catch (...) {
        // A name no mutex can take ("Local\" alone, a name held by an event...).
        return nullptr;
    }
}

// Holds the log's mutexes while one line is written; one that cannot be waited
// for is not held. Both are taken in one wait: a writer never holds one while
// it waits for the other, so it cannot deadlock with writers that take them
// one after the other (or the path's alone, as older hosts do), and one line
// costs one wait instead of two.
class HeldMutexes {
public:
    HeldMutexes(const LogMutex* forFile, const LogMutex* forSpelling) noexcept
    {
        for (const LogMutex* mutex : {forFile, forSpelling})
            if (mutex != nullptr)
                handles_[count_++] = mutex->handle();
        if (count_ == 2 && acquired(::WaitForMultipleObjects(2, handles_, TRUE, INFINITE), 2))
            return;
        // One mutex, or a joint wait the system refused: each on its own, in order.
        std::size_t held = 0;
        for (std::size_t i = 0; i < count_; ++i)
            if (acquired(::WaitForSingleObject(handles_[i], INFINITE), 1))
                handles_[held++] = handles_[i];
        count_ = held;
    }
    ~HeldMutexes()
    {
        for (std::size_t i = count_; i > 0; --i)
            ::ReleaseMutex(handles_[i - 1]);
    }
    HeldMutexes(const HeldMutexes&) = delete;
    HeldMutexes& operator=(const HeldMutexes&) = delete;

private:
    // An abandoned mutex is ours all the same: its writer died mid-line.
    static bool acquired(DWORD waited, DWORD count) noexcept
    {
        return (waited >= WAIT_OBJECT_0 && waited < WAIT_OBJECT_0 + count) ||
               (waited >= WAIT_ABANDONED_0 && waited < WAIT_ABANDONED_0 + count);
    }

    HANDLE handles_[2] = {};
    std::size_t count_ = 0;
};

} // namespace

std::wstring utcTimestamp()
{
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return formatWide(L"%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                      now.wSecond);
}

FileLog::FileLog(std::wstring path, long long sizeLimit, bool closeAfterEveryLine, LogTiming timing)
    : path_(nonEmpty(std::move(path)))
    , file_(path_, sizeLimit <= kMinimumSizeLimit ? kMinimumSizeLimit : sizeLimit, std::move(timing))
    , closeAfterEveryLine_(closeAfterEveryLine)
{
    fileMutex_ = mutexOrNone([this] { return LogMutex::forFile(path_); });
    mutex_ = mutexOrNone([this] { return LogMutex(path_); });
}

void FileLog::write(const wchar_t* format, int level, ...) noexcept
{
    if (format == nullptr)
        return;
    std::wstring message;
    va_list args;
    va_start(args, level);
    try {
        message = Log::formatWide(format, args);
    } catch (...) {
        message.clear();
    }
    va_end(args);

    ::AcquireSRWLockExclusive(&threads_);
    const auto releaseThreads = gsl::finally([this]() noexcept { ::ReleaseSRWLockExclusive(&threads_); });
    const HeldMutexes held(fileMutex_.get(), mutex_.get());

    try {
        std::wstring line = formatWide(L"%s - | %d | th(0x%08X) | pid(0x%08X) | ", utcTimestamp().c_str(), level,
                                       ::GetCurrentThreadId(), ::GetCurrentProcessId());
        // The runtime's stream ended the text at a NUL; the line still gets its end.
        line.append(message, 0, message.find(L'\0'));
        line += L'\n';
        file_.write(line);
        if (closeAfterEveryLine_)
            file_.close();
    } catch (...) {
        // The line is lost; the caller is not to be disturbed by its log.
    }
}

} // namespace Nano
