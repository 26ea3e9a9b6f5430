#include "log_file_wrapper.h"

#include "err/system_error.h"
#include "log_naming.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace Nano {

namespace {

static_assert(sizeof(wchar_t) == 2, "a UTF-16LE log takes the line's code units as they are");

constexpr unsigned kOpenRetries = 16;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The file is open elsewhere in a way that excludes our writing.
bool heldElsewhere(unsigned long systemError)
{
    return systemError == ERROR_SHARING_VIOLATION || systemError == ERROR_LOCK_VIOLATION;
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

[[noreturn]] void throwLastError(const char* what)
{
    throw Err::SystemError(static_cast<std::int32_t>(::GetLastError()), what);
}

// The runtime's text mode went by the first two bytes: FF FE continues in
// UTF-16LE; FE FF it cannot continue (Windows refuses the file, Wine's runtime
// appends UTF-8 after the mark); anything else, EF BB BF included, is UTF-8.
LogEncoding encodingOf(std::string_view head)
{
    if (head.substr(0, 2) == "\xFF\xFE")
        return LogEncoding::Utf16LittleEndian;
    if (head.substr(0, 2) == "\xFE\xFF")
        return LogEncoding::Utf16BigEndian;
    return LogEncoding::Utf8;
}

// The bytes the runtime's text mode wrote for `line`: every '\n' as CR LF (a
// '\r' before it is kept), UTF-8 after the mark into an empty file, or UTF-16LE.
std::string encodedLine(std::wstring_view line, LogEncoding encoding, bool emptyFile)
{
    // A unit of the line becomes at most two (CR LF) and four bytes, so the
    // sizes below fit the int and DWORD the calls take.
    if (line.size() > INT_MAX / 4)
        throw std::length_error("log line too long");
    std::wstring text;
    text.reserve(line.size() + 2);
    for (const wchar_t unit : line) {
        if (unit == L'\n')
            text += L'\r';
        text += unit;
    }
    if (encoding == LogEncoding::Utf16LittleEndian)
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));

    std::string bytes(emptyFile ? kUtf8Mark : std::string_view());
    if (text.empty())
        return bytes;
    // No flags: a lone surrogate becomes U+FFFD, as the runtime's conversion made it.
    const int units = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        throwLastError("can't encode log line");
    const std::size_t start = bytes.size();
    bytes.resize(start + static_cast<std::size_t>(size));
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data() + start, size, nullptr, nullptr);
    return bytes;
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

LogFileWrapper::LogFileWrapper(std::wstring path, long long sizeLimit, LogTiming timing)
    : path_(std::move(path))
    , sizeLimit_(sizeLimit)
    , timing_(std::move(timing))
{
    if (path_.empty())
        throw std::runtime_error("invalid log filename");
}

void LogFileWrapper::write(std::wstring_view line)
{
    try {
        if (!file_)
            open();
        if (size_ > sizeLimit_)
            reopenAfterMovingAside();
        if (!encoding_) {
            encoding_ = encodingOfOpenFile();
            if (*encoding_ == LogEncoding::Utf16BigEndian) {
                reopenAfterMovingAside();
                encoding_ = encodingOfOpenFile();
                // Neither continued nor moved aside: the line is lost, the next one tries again.
                if (*encoding_ == LogEncoding::Utf16BigEndian)
                    throw std::runtime_error("log file is UTF-16 big-endian and can't be moved aside");
            }
        }
        const std::string bytes = encodedLine(line, *encoding_, size_ == 0);
        // One call for the whole line, so no reader or later writer ever meets half of it.
        DWORD written = 0;
        if (!::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
            throwLastError("can't write log line");
        if (written != bytes.size())
            throw std::runtime_error("log line written in part");
        size_ += written;
    } catch (...) {
        // Whatever became of the file, the next line finds out afresh.
        close();
        throw;
    }
}

void LogFileWrapper::close() noexcept
{
    file_.reset();
    encoding_.reset();
    size_ = 0;
}

// Others may read while we write, nobody else may write (the runtime's
// _SH_DENYWR). Append-only data access puts every write at the end of the file,
// so a writer that spells the path another way (and so holds another mutex)
// can never overwrite a line; read access is for the first bytes.
void LogFileWrapper::open()
{
    close();
    // Whoever holds the file (a viewer, a virus scanner, a writer that spells
    // the path another way) lets go within moments.
    for (unsigned retry = 0;; ++retry) {
        file_.reset(::CreateFileW(path_.c_str(), FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD error = ::GetLastError();
        if (file_) {
            // A file created just now is empty: nobody else can have written to it.
            if (error == ERROR_ALREADY_EXISTS) {
                LARGE_INTEGER size{};
                if (!::GetFileSizeEx(file_.get(), &size))
                    throwLastError("can't get log file size");
                size_ = size.QuadPart;
            }
            return;
        }
        if (!heldElsewhere(error) || retry == kOpenRetries)
            throw Err::SystemError(static_cast<std::int32_t>(error), "can't open file for log");
        timing_.pause(retry);
    }
}

// Moves the current file out of the way under a free rotation name and opens
// the path afresh. When the rename fails all the same (the file is held open
// elsewhere), writing goes on in the current file and the next line tries
// again: no line is lost for it.
void LogFileWrapper::reopenAfterMovingAside()
{
    close();
    moveAside();
    open();
}

void LogFileWrapper::moveAside()
{
    const std::wstring target = freeRotatedLogPath(path_, timing_.tickCount(), exists);
    if (!target.empty())
        ::MoveFileW(path_.c_str(), target.c_str());
}

// Read through our own handle, and only when the size does not already tell.
// Called before anything is written through the handle, so its position is
// still the start; an offset of our own would cost more under Wine, which then
// reports the completion to its server. Writes go to the end all the same.
LogEncoding LogFileWrapper::encodingOfOpenFile() const
{
    if (size_ == 0)
        return LogEncoding::Utf8;
    char head[2] = {};
    DWORD read = 0;
    if (!::ReadFile(file_.get(), head, sizeof(head), &read, nullptr))
        throwLastError("can't read log file");
    return encodingOf(std::string_view(head, read));
}

} // namespace Nano
