#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace Nano {

unsigned long systemTickCount() noexcept;
// Waits a little longer with each retry, about a second over all of them.
void pauseBeforeRetry(unsigned retry) noexcept;

// The clock of the file log: the tick count that names rotated files, and the
// pause before opening a file held elsewhere once more. Tests give their own.
struct LogTiming {
    std::function<unsigned long()> tickCount = systemTickCount;
    std::function<void(unsigned retry)> pause = pauseBeforeRetry;
};

// One open log file: rotation past the size limit, and the stream in the runtime's
// UTF-8 text mode (byte-order mark on a new file, CR LF line ends, an existing
// UTF-16LE file continued as such).
class LogFileWrapper {
public:
    LogFileWrapper(std::wstring path, const std::wstring& mode, long long sizeLimit, LogTiming timing = {});
    ~LogFileWrapper();
    LogFileWrapper(const LogFileWrapper&) = delete;
    LogFileWrapper& operator=(const LogFileWrapper&) = delete;

    // The stream to write the next line to, after a rotation if the file is full.
    std::FILE* open();
    void rotateIfNeeded();

private:
    void close() noexcept;
    void moveAside();

    std::FILE* stream_ = nullptr;
    std::wstring mode_;
    std::wstring path_;
    long long sizeLimit_;
    LogTiming timing_;
};

} // namespace Nano
