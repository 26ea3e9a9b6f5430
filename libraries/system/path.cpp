#include "path.h"

namespace System {

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kSeparators = L"\\/";

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool isLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool startsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Length of the root at the start of `text`: 1 for a separator, 3 for "C:\",
// 7 for "\\?\C:\"; 0 when there is none.
std::size_t rootLength(std::wstring_view text)
{
    const auto driveRoot = [](std::wstring_view t) {
        return t.size() >= 3 && isLetter(t[0]) && t[1] == L':' && isSeparator(t[2]);
    };
    if (startsWith(text, kExtendedPrefix) && driveRoot(text.substr(kExtendedPrefix.size())))
        return kExtendedPrefix.size() + 3;
    if (driveRoot(text))
        return 3;
    if (!text.empty() && isSeparator(text[0]))
        return 1;
    return 0;
}

} // namespace

Path::Path(std::wstring text)
    : text_(std::move(text))
{
    if (!text_.empty() && !isRoot() && isSeparator(text_.back()))
        text_.pop_back();
}

bool Path::isRoot() const noexcept
{
    return !text_.empty() && rootLength(text_) == text_.size();
}

bool Path::isResource() const noexcept
{
    return startsWith(text_, L":/") || startsWith(text_, L"qrc:/");
}

bool Path::isRelative() const noexcept
{
    if (text_.empty())
        return true;
    const bool driveAbsolute = text_.size() >= 3 && text_[1] == L':' && isSeparator(text_[2]);
    return !isSeparator(text_[0]) && !driveAbsolute && !startsWith(text_, kExtendedPrefix) && !isResource();
}

Path Path::parent() const
{
    if (isRoot())
        return *this;
    const auto separator = text_.find_last_of(kSeparators);
    if (separator == std::wstring::npos)
        return Path();
    const std::size_t root = rootLength(text_);
    // Keep the root's own separator: the parent of "C:\Games" is "C:\", not "C:".
    if (root > 0 && separator < root)
        return Path(text_.substr(0, root));
    return Path(text_.substr(0, separator));
}

Path Path::operator/(std::wstring_view part) const
{
    while (!part.empty() && isSeparator(part.front()))
        part.remove_prefix(1);
    if (text_.empty())
        return Path(std::wstring(part));
    if (part.empty())
        return *this;
    std::wstring joined = text_;
    if (!isSeparator(joined.back()))
        joined += L'\\';
    return Path(joined + std::wstring(part));
}

std::wstring Path::toString() const
{
    std::wstring text = text_;
    const std::size_t drive = startsWith(text, kExtendedPrefix) ? kExtendedPrefix.size() : 0;
    if (text.size() >= drive + 2 && text[drive + 1] == L':' && text[drive] >= L'a' && text[drive] <= L'z')
        text[drive] = static_cast<wchar_t>(text[drive] - L'a' + L'A');
    return text;
}

} // namespace System
