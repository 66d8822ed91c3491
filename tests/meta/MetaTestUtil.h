// The exiv2 program run from outside, as another photo program would read our files.
#pragma once

#include <map>
#include <string>

namespace metatest {

// exiv2's standard output for the arguments (a file name is quoted here).
std::string RunExiv2(const std::string &options, const std::string &file);

// exiv2 -pt (or -px) as key -> printed value.
std::map<std::string, std::string> Exiv2Values(const std::string &print, const std::string &file);

} // namespace metatest
