#include "generate_configuration.h"

#include "system/win32/known_paths_win.h"

namespace Diagnostics::Private {

VESK::Configuration generateConfiguration(const Parameters& parameters)
{
    std::wstring tempFolder;
    try {
        tempFolder = System::Env::KnownPaths::tempFolder().str();
    } catch (const std::exception&) {
        // dxdiag.txt is then looked for in the current directory; nothing else depends on it.
    }
    return generateConfiguration(parameters, tempFolder);
}

} // namespace Diagnostics::Private
