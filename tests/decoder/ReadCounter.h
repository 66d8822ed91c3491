// Counts the platform reads made of one file: the test program stands in for pread and passes
// every call on to the system unchanged.
#pragma once

#include <string>

namespace readcounter {

// Counts reads of the file at path (by device and inode) from now on, starting at 0.
void Watch(const std::string &path);
int Calls();
void Reset();

} // namespace readcounter
