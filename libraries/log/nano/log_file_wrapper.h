#pragma once

#include "system/win32/unique_resource.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

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

// What a log file's first bytes say its text is.
enum class LogEncoding { Utf8, Utf16LittleEndian, Utf16BigEndian };

// One log file, written as the runtime's UTF-8 text mode wrote it (byte-order
// mark on a new file, CR LF line ends, an existing UTF-16LE file continued as
// such) but through one handle, each line with one append: rotation past the
// size limit, and a file the text mode could not continue moved aside.
class LogFileWrapper {
public:
    LogFileWrapper(std::wstring path, long long sizeLimit, LogTiming timing = {});

    // Appends `line` whole, every '\n' in it as CR LF, after moving a full file
    // aside. The file stays open for the next line until close().
    void write(std::wstring_view line);
    // Lets go of the file, so that other writers can have it.
    void close() noexcept;

private:
    void open();
    void reopenAfterMovingAside();
    void moveAside();
    LogEncoding encodingOfOpenFile() const;

    System::Win32::UniqueFileHandle file_;
    // Both known for as long as file_ stays open: nobody else can write to it meanwhile.
    long long size_ = 0;
    std::optional<LogEncoding> encoding_;
    std::wstring path_;
    long long sizeLimit_;
    LogTiming timing_;
};

} // namespace Nano
