#pragma once

// How many progress reports the "flood" test plug-in sends from its sixteen
// threads at once, and what its session test counts. The count is about load;
// what the tests check is that every report arrives. The 32-bit build's tests
// run in an emulated machine, where one report across processes takes some
// 15 ms instead of well under one: they send a quarter as many there, so that
// the simulator's 30 s wait for the finish measures the host, not the emulator.
namespace Flood {

inline constexpr int kThreads = 16;
#if defined(_WIN64)
inline constexpr int kReportsPerThread = 200;
#else
inline constexpr int kReportsPerThread = 50;
#endif

} // namespace Flood
