#include "file_log.h"

#include "log/wide_format.h"

#include <gsl/util>

#include <cwchar>
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

// Holds a log mutex while one line is written; one that cannot be waited for is not held.
class HeldMutex {
public:
    explicit HeldMutex(const LogMutex* mutex) noexcept
        : mutex_(mutex != nullptr && acquire(mutex->handle()) ? mutex : nullptr)
    {
    }
    ~HeldMutex()
    {
        if (mutex_ != nullptr)
            ::ReleaseMutex(mutex_->handle());
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;

private:
    // An abandoned mutex is ours all the same: its writer died mid-line.
    static bool acquire(HANDLE handle) noexcept
    {
        const DWORD waited = ::WaitForSingleObject(handle, INFINITE);
        return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }

    const LogMutex* mutex_;
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
    : path_(std::move(path))
    , sizeLimit_(sizeLimit <= kMinimumSizeLimit ? kMinimumSizeLimit : sizeLimit)
    , closeAfterEveryLine_(closeAfterEveryLine)
    , timing_(std::move(timing))
{
    if (path_.empty())
        throw std::runtime_error("log filename is empty");
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

    // Always in this order, so no two writers can each hold what the other waits for.
    ::AcquireSRWLockExclusive(&threads_);
    const auto releaseThreads = gsl::finally([this]() noexcept { ::ReleaseSRWLockExclusive(&threads_); });
    const HeldMutex forFile(fileMutex_.get());
    const HeldMutex forSpelling(mutex_.get());

    try {
        if (!file_)
            file_ = std::make_shared<LogFileWrapper>(path_, L"at", sizeLimit_, timing_);
        if (std::FILE* stream = file_->open()) {
            std::wstring line = formatWide(L"%s - | %d | th(0x%08X) | pid(0x%08X) | ", utcTimestamp().c_str(), level,
                                           ::GetCurrentThreadId(), ::GetCurrentProcessId());
            line += message;
            line += L'\n';
            // One call for the whole line, so the stream never holds half of it.
            std::fputws(line.c_str(), stream);
            std::fflush(stream);
        }
    } catch (...) {
        // The line is lost; the caller is not to be disturbed by its log.
    }
    if (closeAfterEveryLine_)
        file_.reset();
}

} // namespace Nano
