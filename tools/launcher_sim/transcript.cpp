#include "transcript.h"

#include "author_view.h"
#include "err/utf.h"

#include <cwchar>

namespace LauncherSim {

Transcript::Transcript(const std::wstring& path, Echo echo, bool stamped)
    : echo_(echo)
{
    if (stamped)
        origin_ = Clock::now();
    if (!path.empty())
        file_ = ::_wfopen(path.c_str(), L"ab");
}

Transcript::~Transcript()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void Transcript::line(const std::wstring& text, std::optional<Clock::time_point> at)
{
    std::string utf8 = Err::toUtf8(text) + "\n";
    if (origin_) {
        const double ms = std::chrono::duration<double, std::milli>(at.value_or(Clock::now()) - *origin_).count();
        char stamp[32];
        std::snprintf(stamp, sizeof(stamp), "[%.3f] ", ms);
        utf8.insert(0, stamp);
    }
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) {
        std::fwrite(utf8.data(), 1, utf8.size(), file_);
        std::fflush(file_);
    }
    const std::optional<std::wstring> shown =
        echo_ == Echo::ForAuthors ? forAuthors(text) : echo_ == Echo::AsIs ? std::optional(text) : std::nullopt;
    if (shown) {
        const std::string printed = Err::toUtf8(*shown) + "\n";
        std::fwrite(printed.data(), 1, printed.size(), stdout);
        std::fflush(stdout);
    }
}

std::wstring quoted(BSTR text)
{
    if (text == nullptr)
        return L"(null)";
    return L"\"" + std::wstring(text, ::SysStringLen(text)) + L"\"";
}

std::wstring hresultText(HRESULT hr)
{
    if (hr == S_OK)
        return L"S_OK";
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring boolText(VARIANT_BOOL value)
{
    if (value == VARIANT_TRUE)
        return L"true";
    if (value == VARIANT_FALSE)
        return L"false";
    return std::to_wstring(value);
}

} // namespace LauncherSim
