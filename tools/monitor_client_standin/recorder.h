#pragma once

// The stand-in's record: one line per call, in call order, to the file named
// by OMBRIX_STANDIN_RECORD (no file: nothing is recorded).
#include <string>

#define STANDIN_CALL __cdecl
#define STANDIN_EXPORT extern "C" __declspec(dllexport)

namespace Standin {

void record(const std::string& line);

// A variable of the process environment (read through the system, as the C
// runtime's copy misses what the test sets); empty when unset.
std::wstring environment(const wchar_t* name);

// "text" in quotation marks, or (null).
std::string quoted(const char* text);

// Closes the record file when the library is unloaded.
void closeRecord();

} // namespace Standin
