#pragma once

#include "log_file_wrapper.h"
#include "log_mutex.h"

#include <memory>
#include <string>

namespace Nano {

// A text log shared by several processes: each line is written whole under the
// file's named mutexes, and the file is closed between lines so no writer holds it.
class FileLog {
public:
    // Refuses only an empty path. A mutex that cannot be had is done without:
    // the file's share mode still keeps each line whole.
    FileLog(std::wstring path, long long sizeLimit, bool closeAfterEveryLine, LogTiming timing = {});

    // Appends one line: header, the formatted message, line end. Never throws;
    // a line that cannot be written is dropped.
    void write(const wchar_t* format, int level, ...) noexcept;

    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

private:
    // The threads of this process, also when no named mutex could be had.
    SRWLOCK threads_ = SRWLOCK_INIT;
    // One mutex for every spelling of the file, taken first, then the one of
    // this spelling, which older hosts use.
    std::shared_ptr<LogMutex> fileMutex_;
    std::shared_ptr<LogMutex> mutex_;
    std::wstring path_;
    LogFileWrapper file_;
    bool closeAfterEveryLine_;
};

// "%Y-%m-%dT%H:%M:%S" of the current time in UTC.
std::wstring utcTimestamp();

} // namespace Nano
