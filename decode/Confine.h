// Locking the decoding helper down before it reads a byte of any file: limits on memory, file
// size and core dumps, no new privileges, the file system closed (Landlock, where the kernel has
// it) and a system-call allow-list (seccomp).
#pragma once

#include <string>

enum class TConfinement {
    Strict, // no file can be opened at all
    Fonts,  // files can be opened for reading in the font, configuration and library folders
};

// Applies every lock; returns an empty string, or what could not be applied (the helper then
// refuses to work).
std::string Confine(TConfinement confinement);
