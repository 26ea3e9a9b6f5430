#include "log.h"

#include "nano/file_log.h"
#include "wide_format.h"

#include <memory>
#include <mutex>

namespace {

constexpr long long kLogSizeLimit = 2 * 1024 * 1024;

std::wstring& logPathSetting()
{
    static std::wstring path;
    return path;
}

// Created on the first line; a failed creation leaves no outcome behind, so the
// next line tries again.
class FileLogSlot {
public:
    Nano::FileLog* get()
    {
        std::lock_guard lock(mutex_);
        if (!decided_) {
            if (!logPathSetting().empty())
                log_ = std::make_unique<Nano::FileLog>(logPathSetting(), kLogSizeLimit, true);
            decided_ = true;
        }
        return log_.get();
    }

private:
    std::mutex mutex_;
    bool decided_ = false;
    std::unique_ptr<Nano::FileLog> log_;
};

FileLogSlot& fileLogSlot()
{
    static FileLogSlot slot;
    return slot;
}

} // namespace

namespace {

void logFormatted(int level, const wchar_t* format, va_list args) noexcept
{
    if (format == nullptr)
        return;
    try {
        Nano::FileLog* log = fileLogSlot().get();
        if (log == nullptr)
            return;
        const std::wstring text = Log::formatWide(format, args);
        log->write(L"%s", level, text.c_str());
    } catch (...) {
        // The line is dropped: logging must never take its caller down.
    }
}

} // namespace

void setLogPath(std::wstring path) noexcept
{
    logPathSetting() = std::move(path);
}

void logPrintf(int level, const wchar_t* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    logFormatted(level, format, args);
    va_end(args);
}

namespace Log {

void logAtCallSite(const std::source_location& site, std::wstring_view message, int level, ...) noexcept
{
    va_list args;
    va_start(args, level);
    try {
        const std::wstring envelope = composeEnvelope(site.file_name(), site.function_name(), site.line(), message);
        logFormatted(level, envelope.c_str(), args);
    } catch (...) {
        // As in logFormatted: the line is dropped.
    }
    va_end(args);
}

} // namespace Log
