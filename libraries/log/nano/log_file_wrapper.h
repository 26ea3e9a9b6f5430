#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace Nano {

// One open log file: rotation past the size limit, and the stream in the runtime's
// UTF-8 text mode (byte-order mark on a new file, CR LF line ends, an existing
// UTF-16LE file continued as such).
class LogFileWrapper {
public:
    LogFileWrapper(std::wstring path, const std::wstring& mode, long long sizeLimit);
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
};

} // namespace Nano
