// The log file names: every function over any path, against what its header
// promises (the mutex names' forms, the long-path prefix removed, split and
// join reading back the path, a rotated name keeping its folder and saying its
// tick and attempt, the first free rotated name).
#include "log/nano/log_naming.h"

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace {

using Fuzz::require;

bool startsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::wstring_view text, std::wstring_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

void requireMutexNames(const std::wstring& path)
{
    const std::wstring local = Nano::logMutexName(path);
    const std::wstring_view name = std::wstring_view(local).substr(6);
    require(startsWith(local, L"Local\\") && name.find(L'\\') == name.npos && endsWith(path, name) &&
                (name.size() == path.size() || path[path.size() - name.size() - 1] == L'\\'),
            "the log mutex is Local\\ and the name after the last backslash");

    const std::wstring digest = Nano::fileMutexName(path);
    require(digest.size() == 31 && startsWith(digest, L"Local\\nano-log-") &&
                digest.find_first_not_of(L"0123456789abcdef", 15) == digest.npos,
            "the file mutex is Local\\nano-log- and 16 hex digits");
    require(Nano::fileMutexName(path) == digest, "the file mutex name depends on the path alone");
}

void requireLongPathPrefixRemoved(const std::wstring& path)
{
    const std::wstring plain = Nano::withoutLongPathPrefix(path);
    if (startsWith(path, L"\\\\?\\UNC\\"))
        require(plain == L"\\\\" + path.substr(8), "\\\\?\\UNC\\srv becomes \\\\srv");
    else if (startsWith(path, L"\\\\?\\"))
        require(plain == path.substr(4), "\\\\?\\C:\\x becomes C:\\x");
    else
        require(plain == path, "a path without the prefix stays");
}

void requireSplitAndJoin(const std::wstring& path, const std::wstring& folder, const std::wstring& name)
{
    const auto [folderPart, namePart] = Nano::splitFileName(path);
    require(std::wstring(folderPart) + std::wstring(namePart) == path, "the two parts make the path");
    require(namePart.find(L'\\') == namePart.npos && (folderPart.empty() || folderPart.back() == L'\\'),
            "the folder ends at the last backslash, kept");
    require(Nano::joinFileName(folderPart, namePart) == path, "joining the parts gives back the path");

    const std::wstring joined = Nano::joinFileName(folder, name);
    const bool needsSeparator = !folder.empty() && folder.back() != L'\\';
    require(joined == folder + (needsSeparator ? L"\\" : L"") + name,
            "join puts one backslash between folder and name, none when the folder has it");
    if (name.find(L'\\') == name.npos) {
        const auto [joinedFolder, joinedName] = Nano::splitFileName(joined);
        require(joinedName == name, "a joined name splits back off");
    }
}

void requireRotation(const std::wstring& path, unsigned long tick, unsigned attempt, const std::set<std::wstring>& taken)
{
    const std::wstring rotated = Nano::rotatedLogPath(path, tick, attempt);
    require(Nano::splitFileName(rotated).first == Nano::splitFileName(path).first, "a rotated log keeps its folder");
    std::wstring suffix = L"_" + std::to_wstring(tick);
    if (attempt > 0)
        suffix += L"_" + std::to_wstring(attempt);
    suffix += L".log";
    const std::wstring stem = endsWith(path, L".log") ? path.substr(0, path.size() - 4) : path;
    require(rotated == stem + suffix, "_<tick>[_<attempt>].log replaces .log or is appended");
    if (attempt > 0)
        require(Nano::rotatedLogPath(path, tick, attempt - 1) != rotated, "each attempt has a name of its own");

    const auto exists = [&](const std::wstring& candidate) { return taken.count(candidate) > 0; };
    const std::wstring free = Nano::freeRotatedLogPath(path, tick, exists);
    unsigned first = 0;
    while (first < 100 && exists(Nano::rotatedLogPath(path, tick, first)))
        ++first;
    require(free == (first < 100 ? Nano::rotatedLogPath(path, tick, first) : std::wstring()),
            "the free rotated name is the first one not taken, none after a hundred");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Lines: the path, a folder, a name, the tick, the attempt, then rotated
    // names that are taken (by attempt number, "*" for all hundred).
    Fuzz::TextFields fields(data, size);
    const std::wstring path = fields.wide();
    const std::wstring folder = fields.wide();
    const std::wstring name = fields.wide();
    const unsigned long tick = fields.number();
    const unsigned attempt = fields.number() % 1000;
    std::set<std::wstring> taken;
    while (!fields.atEnd()) {
        const std::string which = fields.bytes();
        for (unsigned n = 0; n < 100; ++n)
            if (which == "*" || which == std::to_string(n))
                taken.insert(Nano::rotatedLogPath(path, tick, n));
    }

    requireMutexNames(path);
    requireLongPathPrefixRemoved(path);
    requireSplitAndJoin(path, folder, name);
    requireRotation(path, tick, attempt, taken);
    return 0;
}
