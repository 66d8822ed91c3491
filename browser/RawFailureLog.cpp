#include "RawFailureLog.h"

#include <algorithm>

bool TRawFailureLog::FirstTime(const std::string &folder, std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return FSeen[folder].insert(std::move(names)).second;
}

std::string NoNewThumbnailText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " RAW file got" : " RAW files got") +
           " no new thumbnail";
}
