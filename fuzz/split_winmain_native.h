#pragma once

// Boost declares and builds its split of Windows command lines only where
// _WIN32 is defined, although the rules are plain C++. Natively the fuzz build
// declares it here (forced into command_line.cpp) and builds Boost's own
// source in split_winmain_native.cpp.
#include <boost/program_options/parsers.hpp>

#include <string>
#include <vector>

namespace boost::program_options {

std::vector<std::string> split_winmain(const std::string& cmdline);
std::vector<std::wstring> split_winmain(const std::wstring& cmdline);

} // namespace boost::program_options
