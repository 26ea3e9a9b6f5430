#pragma once

#include <wtypes.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace LauncherSim {

// One line per call received or made, in UTF-8, flushed at once so a test can
// read it while the simulator still runs. Any thread.
class Transcript {
public:
    // Echoed lines are printed as they are, or as a plug-in author reads them.
    enum class Echo { None, AsIs, ForAuthors };

    Transcript(const std::wstring& path, Echo echo);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void line(const std::wstring& text);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    Echo echo_;
};

// Forms used in transcript lines.
std::wstring quoted(BSTR text);             // "text", or (null)
std::wstring hresultText(HRESULT hr);       // 0x80004005, S_OK
std::wstring boolText(VARIANT_BOOL value);  // true / false / the number

} // namespace LauncherSim
