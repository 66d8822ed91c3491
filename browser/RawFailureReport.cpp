#include "RawFailureReport.h"

#include <algorithm>

namespace {
constexpr std::size_t MaxFailuresNamed = 20;
}

void TRawFailureReport::Begin() {
    FNote.clear();
    FFailures.clear();
    FFailedCount = 0;
}

void TRawFailureReport::ReadOnlyFolder(const std::string &folder, std::size_t files) {
    FFailures.emplace_back(folder, "the folder is read-only, so no thumbnail file can be "
                                   "written beside its RAW files");
    FFailedCount = files;
}

void TRawFailureReport::Failed(const std::string &name, const std::string &error) {
    FFailures.emplace_back(name, error);
    ++FFailedCount;
}

bool TRawFailureReport::PassEnded(const std::string &folder, bool complete) {
    TFailures failures = std::move(FFailures);
    FFailures.clear();
    if (!complete || failures.empty())
        return false;
    std::vector<std::string> names;
    for (const auto &failure : failures)
        names.push_back(failure.first);
    if (!FLog.FirstTime(folder, names)) {
        FNote = NoNewThumbnailText(FFailedCount);
        return false;
    }
    FBox = std::move(failures);
    return true;
}

std::string TRawFailureReport::TakeBoxText() {
    if (FBox.empty())
        return {};
    std::string text = "These RAW files got no new thumbnail:\n";
    const std::size_t shown = std::min(FBox.size(), MaxFailuresNamed);
    for (std::size_t i = 0; i < shown; ++i)
        text += "\n" + FBox[i].first + ": " + FBox[i].second;
    if (FBox.size() > shown)
        text += "\n... and " + std::to_string(FBox.size() - shown) + " more";
    FBox.clear();
    return text;
}
