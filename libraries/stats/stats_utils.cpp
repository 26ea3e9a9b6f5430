#include "stats_utils.h"

#include "installation_id_rules.h"
#include "log/log.h"
#include "system/path.h"
#include "system/win32/unique_resource.h"

#include <boost/filesystem.hpp>
#include <boost/uuid/detail/sha1.hpp>

#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace Stats {

namespace {

constexpr char kUnknown[] = "unknown";
constexpr std::size_t kIdLength = 40;

System::Path dataDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return System::Path(folder) / L"Tervane\\Arvenna" / L"data";
}

std::string readFile(const System::Path& file)
{
    std::ifstream in(std::filesystem::path(file.str()), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

std::string readAll(HANDLE file)
{
    std::string content(kIdLength + 1, '\0');
    DWORD read = 0;
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr))
        return {};
    content.resize(read);
    return content;
}

bool writeAll(HANDLE file, const std::string& id)
{
    DWORD written = 0;
    return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ::WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr) &&
           written == id.size() && ::SetEndOfFile(file);
}

// Opened for writing, shared for reading only: while one process writes,
// every other one that wants to write is refused and reads instead.
System::Win32::UniqueFileHandle openForWriting(const System::Path& file, DWORD disposition)
{
    return System::Win32::UniqueFileHandle(::CreateFileW(file.str().c_str(), GENERIC_READ | GENERIC_WRITE,
                                                         FILE_SHARE_READ, nullptr, disposition,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Stores `id` unless another process got there first: then its identifier is
// the machine's, and the one returned. Empty when nothing could be stored.
std::string storeOrAdopt(const System::Path& directory, const System::Path& file, const std::string& id)
{
    boost::system::error_code error;
    if (!directory.empty())
        boost::filesystem::create_directories(boost::filesystem::path(directory.str()), error);
    if (error)
        return {};
    // The creator holds the file until its identifier is written, so a host
    // that cannot open it for writing waits. A writer that shares the file
    // leaves it incomplete for a moment, one that died leaves it so for good:
    // an incomplete identifier is waited for, then replaced. Bounded either way.
    constexpr int kAttempts = 100;
    constexpr DWORD kPause = 10;
    for (int attempt = 1;; ++attempt) {
        if (const auto created = openForWriting(file, CREATE_NEW))
            return writeAll(created.get(), id) ? id : std::string();
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return {};
        if (const auto existing = openForWriting(file, OPEN_EXISTING)) {
            const std::string current = readAll(existing.get());
            if (isValidInstallationId(current))
                return current;
            if (!isIncompleteInstallationId(current) || attempt == kAttempts)
                return writeAll(existing.get(), id) ? id : std::string();
        } else if (const DWORD reason = ::GetLastError(); reason != ERROR_SHARING_VIOLATION &&
                                                          reason != ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (attempt == kAttempts)
            return {};
        ::Sleep(kPause);
    }
}

std::optional<std::string> predecessorId()
{
    System::Win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Hollin.net\\Launcher", 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buffer[41] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExW(key.get(), L"installation_id_tvx", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &size) != ERROR_SUCCESS)
        return std::nullopt;
    return acceptPredecessorValue(type, std::u16string_view(reinterpret_cast<const char16_t*>(buffer), 41), size);
}

// SHA-1 of a fresh GUID's 16 bytes; empty when no GUID can be created.
std::string generatedId()
{
    GUID guid;
    if (FAILED(::CoCreateGuid(&guid)))
        return {};
    boost::uuids::detail::sha1 sha1;
    sha1.process_bytes(&guid, sizeof(guid));
    boost::uuids::detail::sha1::digest_type digest;
    sha1.get_digest(digest);
    return formatDigest({digest[0], digest[1], digest[2], digest[3], digest[4]});
}

std::string computeInstallationId()
{
    const System::Path directory = dataDirectory();
    const System::Path file = directory.empty() ? System::Path(L"tvx_id.dat") : directory / L"tvx_id.dat";
    if (std::string stored = readFile(file); isValidInstallationId(stored))
        return stored;

    std::string id;
    bool adopted = false;
    if (auto previous = predecessorId(); previous && isValidInstallationId(*previous)) {
        id = *previous;
        adopted = true;
    } else {
        id = generatedId();
    }
    if (!isValidInstallationId(id))
        return kUnknown;
    const std::string stored = storeOrAdopt(directory, file, id);
    if (stored.empty()) {
        HOST_LOG(LogLevel::Warning, L"Failed to write file %s", file.toString().c_str());
        // An identifier the launcher cannot read back would differ from its own.
        return adopted ? id : kUnknown;
    }
    return stored;
}

} // namespace

const std::string& installationId()
{
    static const std::string id = computeInstallationId();
    return id;
}

} // namespace Stats
