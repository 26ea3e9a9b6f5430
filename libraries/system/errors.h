#pragma once

#include "err/generic_error.h"

namespace System::Errors {
struct Base_traits { static constexpr const char* word = "System"; };
struct Failed_traits { using Parent = Base_traits; static constexpr const char* word = "Failed"; };
} // namespace System::Errors

namespace System::Env::KnownPaths::Errors {
struct Base_traits { static constexpr const char* word = "KnownPaths"; };
struct Failed_traits { using Parent = Base_traits; static constexpr const char* word = "Failed"; };
} // namespace System::Env::KnownPaths::Errors
