// RAW files that got no new thumbnail, remembered for the run of the program, so that a folder
// with a damaged file pops its box once and later visits only say how many failed.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

class TRawFailureLog {
public:
    // Records that the files named failed in folder; true when this folder has not met exactly
    // this set of failing files before.
    bool FirstTime(const std::string &folder, std::vector<std::string> names);

private:
    std::map<std::string, std::set<std::vector<std::string>>> FSeen;
};

// The current-file panel's note on a later visit.
std::string NoNewThumbnailText(std::size_t count);
