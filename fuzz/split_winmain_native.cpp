// Boost's winmain.cpp, unchanged: its headers are already included without
// _WIN32, so the definition only unlocks the two functions' bodies.
#include "split_winmain_native.h"

#define _WIN32
#include BOOST_WINMAIN_SOURCE
#undef _WIN32
