// exiv2 set up once for the whole process, before any thread uses it.
#pragma once

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <string>
#include <vector>

// The XMP toolkit inside exiv2 is not thread-safe: every use goes through one lock, and its
// warnings, which name no file, stay off standard error.
void InitMetaLibrary();

// The bytes of a small file (a sidecar); false when it is missing, unreadable or larger than
// limit, which no real sidecar is.
bool ReadSmallFile(const std::string &path, std::size_t limit, std::string &bytes);
