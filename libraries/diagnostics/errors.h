#pragma once

#include "err/generic_error.h"

namespace Diagnostics::Errors {
struct Base_traits { static constexpr const char* word = "Diagnostics"; };
} // namespace Diagnostics::Errors

namespace Diagnostics::Private::ConfigErrors {
struct Base_traits { using Parent = Diagnostics::Errors::Base_traits; static constexpr const char* word = "Config"; };
struct ParsingFailed_traits { using Parent = Base_traits; static constexpr const char* word = "ParsingFailed"; };
} // namespace Diagnostics::Private::ConfigErrors
