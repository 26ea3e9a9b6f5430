#pragma once

// Levels are passed around as plain ints and written into the line as numbers;
// values outside this set are written unchanged.
struct LogLevel {
    enum : int { Error = 0, Warning = 1, Info = 2, Debug = 3 };
};
