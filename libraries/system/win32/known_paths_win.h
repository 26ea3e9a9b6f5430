#pragma once

#include <string>

namespace System::Env::KnownPaths {

// Full path of the running executable, whatever its length.
std::wstring applicationPath();

} // namespace System::Env::KnownPaths
