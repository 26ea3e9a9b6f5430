#pragma once

#include "system/path.h"

namespace System::Env::KnownPaths {

// Full path of the running executable, whatever its length.
Path applicationPath();

// The folder of the running executable.
Path applicationDirectory();

// The user's temporary folder.
Path tempFolder();

} // namespace System::Env::KnownPaths
