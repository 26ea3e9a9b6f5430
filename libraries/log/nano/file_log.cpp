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

} // namespace

std::wstring utcTimestamp()
{
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return formatWide(L"%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                      now.wSecond);
}

FileLog::FileLog(std::wstring path, long long sizeLimit, bool closeAfterEveryLine)
    : path_(std::move(path))
    , sizeLimit_(sizeLimit <= kMinimumSizeLimit ? kMinimumSizeLimit : sizeLimit)
    , closeAfterEveryLine_(closeAfterEveryLine)
{
    if (path_.empty())
        throw std::runtime_error("log filename is empty");
    mutex_ = std::make_shared<LogMutex>(path_);
}

void FileLog::write(const wchar_t* format, int level, ...) noexcept
{
    if (!mutex_ || format == nullptr)
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

    const DWORD waited = ::WaitForSingleObject(mutex_->handle(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return;
    const auto release = gsl::finally([this] { ::ReleaseMutex(mutex_->handle()); });

    try {
        if (!file_)
            file_ = std::make_shared<LogFileWrapper>(path_, L"at", sizeLimit_);
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
