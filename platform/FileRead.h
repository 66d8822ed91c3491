// Reading files whole: the one loop that copes with short and interrupted reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads an open regular file from its start into bytes, at most limit bytes (a file that is
// longer is cut at limit). Returns 0, or the errno of the read that failed.
int ReadFileBytes(int fd, std::size_t limit, std::vector<std::uint8_t> &bytes);

// Reads a whole file into memory. Raises EFOpenError "Cannot open file "%s". %s"; a pipe or
// device named like a picture is refused rather than read (it could block).
std::vector<std::uint8_t> ReadWholeFile(const std::string &path);
