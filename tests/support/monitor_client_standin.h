#pragma once

// Driving the stand-in monitor_client_impl.dll from tests: its folders in the
// build, its settings (environment variables, which children inherit) and its
// record.
#include "test_support.h"

#include <filesystem>
#include <string>
#include <vector>

namespace TestSupport {

// The folder of the full stand-in, and of the one without configuration functions.
std::filesystem::path standinDirectory();
std::filesystem::path coreOnlyStandinDirectory();

// A variable of the process environment, set for the object's life.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::wstring name, const std::wstring& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
};

// The stand-in's record, in a folder of its own.
class StandinRecord {
public:
    StandinRecord();
    const std::filesystem::path& directory() const { return dir_.path(); }
    std::vector<std::string> lines() const;

private:
    TempDir dir_;
    ScopedEnvironment variable_;
};

} // namespace TestSupport
