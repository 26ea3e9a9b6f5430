#pragma once

// What the stand-in hands out for every library structure: its number in the
// record and its family, so that setters can check what they are given.
struct Structure {
    int id;
    const char* family;
    bool alive;
};
