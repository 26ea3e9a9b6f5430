#pragma once

#include <wtypes.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace LauncherSim {

// One line per call received or made, in UTF-8, flushed at once so a test can
// read it while the simulator still runs. Any thread.
class Transcript {
public:
    using Clock = std::chrono::steady_clock;
    // Echoed lines are printed as they are, or as a plug-in author reads them.
    enum class Echo { None, AsIs, ForAuthors };

    // With `stamped`, each line of the file starts with the milliseconds since
    // the transcript began, "[1234.567] ", for whoever times a session.
    Transcript(const std::wstring& path, Echo echo, bool stamped = false);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // `at`: when the line's event happened, if that was before now.
    void line(const std::wstring& text, std::optional<Clock::time_point> at = std::nullopt);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    Echo echo_;
    std::optional<Clock::time_point> origin_;
};

// Forms used in transcript lines.
std::wstring quoted(BSTR text);             // "text", or (null)
std::wstring hresultText(HRESULT hr);       // 0x80004005, S_OK
std::wstring boolText(VARIANT_BOOL value);  // true / false / the number

} // namespace LauncherSim
