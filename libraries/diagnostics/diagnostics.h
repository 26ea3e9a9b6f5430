#pragma once

#include "parameters.h"

#include <gsl/util>

#include <cstdint>
#include <functional>
#include <string>

namespace Diagnostics {

using ScopeGuard = gsl::final_action<std::function<void()>>;

// Switches crash reporting on for the process; the guard shuts it down. Never
// fails the host: without the library the host runs on without reports.
ScopeGuard init(const Parameters& parameters, std::uint64_t& beginHookId);

// The process-wide assertion handler: texts 1-4, the line, text 5.
using AssertionHandler = void (*)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                  const wchar_t*);

// Installs a handler and returns the one it replaces.
AssertionHandler setAssertionHandler(AssertionHandler handler);

// The handler installed now; null when there is none.
AssertionHandler assertionHandler();

// Reports an assertion through the crash-reporting library; does nothing while
// the library is not loaded.
void reportAssertion(const wchar_t* text1, const wchar_t* text2, const wchar_t* text3, const wchar_t* text4,
                     unsigned line, const wchar_t* text5);

} // namespace Diagnostics
