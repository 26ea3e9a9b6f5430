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

bool writeFile(const System::Path& directory, const System::Path& file, const std::string& id)
{
    boost::system::error_code error;
    if (!directory.empty())
        boost::filesystem::create_directories(boost::filesystem::path(directory.str()), error);
    if (error)
        return false;
    std::ofstream out(std::filesystem::path(file.str()), std::ios::binary | std::ios::trunc);
    out.write(id.data(), static_cast<std::streamsize>(id.size()));
    out.close();
    return static_cast<bool>(out);
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
    if (!writeFile(directory, file, id)) {
        HOST_LOG(LogLevel::Warning, L"Failed to write file %s", file.toString().c_str());
        // An identifier the launcher cannot read back would differ from its own.
        if (!adopted)
            return kUnknown;
    }
    return id;
}

} // namespace

const std::string& installationId()
{
    static const std::string id = computeInstallationId();
    return id;
}

} // namespace Stats
