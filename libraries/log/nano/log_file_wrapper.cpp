#include "log_file_wrapper.h"

#include "log_naming.h"
#include "system/win32/unique_resource.h"

#include <share.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace Nano {

namespace {

// Size of the file at `path`, 0 when there is none.
long long fileSize(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE found = ::FindFirstFileW(path.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE)
        return 0;
    if (!::FindClose(found))
        throw std::runtime_error("FindClose failed");
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file that starts with the UTF-16 big-endian mark can never be appended to in
// the runtime's text modes (Windows refuses it; Wine's runtime even appends UTF-8
// after the mark and corrupts it).
bool startsWithBigEndianMark(const std::wstring& path)
{
    System::Win32::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char mark[2] = {};
    DWORD read = 0;
    return file && ::ReadFile(file.get(), mark, sizeof(mark), &read, nullptr) && read == 2 && mark[0] == 0xFE &&
           mark[1] == 0xFF;
}

constexpr unsigned kOpenRetries = 16;

// The file is open elsewhere in a way that excludes our writing.
bool heldElsewhere(unsigned long systemError)
{
    return systemError == ERROR_SHARING_VIOLATION || systemError == ERROR_LOCK_VIOLATION;
}

} // namespace

unsigned long systemTickCount() noexcept
{
    return ::GetTickCount();
}

void pauseBeforeRetry(unsigned retry) noexcept
{
    ::Sleep(std::min(1u << std::min(retry, 7u), 100u));
}

LogFileWrapper::LogFileWrapper(std::wstring path, const std::wstring& mode, long long sizeLimit, LogTiming timing)
    : mode_(mode + L", ccs=UTF-8")
    , path_(std::move(path))
    , sizeLimit_(sizeLimit)
    , timing_(std::move(timing))
{
    if (path_.empty())
        throw std::runtime_error("invalid log filename");
    open();
}

LogFileWrapper::~LogFileWrapper()
{
    close();
}

std::FILE* LogFileWrapper::open()
{
    rotateIfNeeded();
    if (stream_ != nullptr)
        return stream_;
    if (startsWithBigEndianMark(path_))
        moveAside();
    // Whoever holds the file (a viewer, a virus scanner, a writer that spells
    // the path another way and so holds another mutex) lets go within moments.
    for (unsigned retry = 0;; ++retry) {
        stream_ = ::_wfsopen(path_.c_str(), mode_.c_str(), _SH_DENYWR);
        if (stream_ != nullptr)
            return stream_;
        if (!heldElsewhere(_doserrno) || retry == kOpenRetries)
            throw std::runtime_error("can't open file for log");
        timing_.pause(retry);
    }
}

void LogFileWrapper::rotateIfNeeded()
{
    if (fileSize(path_) <= sizeLimit_)
        return;
    close();
    moveAside();
}

// Moves the current file out of the way under a free rotation name. When the
// rename fails all the same (the file is held open elsewhere), writing goes on
// in the current file and the next line tries again: no line is lost for it.
void LogFileWrapper::moveAside()
{
    const std::wstring target = freeRotatedLogPath(path_, timing_.tickCount(), exists);
    if (!target.empty())
        ::_wrename(path_.c_str(), target.c_str());
}

void LogFileWrapper::close() noexcept
{
    if (stream_ != nullptr) {
        std::fflush(stream_);
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

} // namespace Nano
