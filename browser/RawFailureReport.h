// What a scan's RAW pass could not make, told once per set of failures: a box the first time a
// folder shows them, a note in the current-file panel on the visits after.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "RawFailureLog.h"

class TRawFailureReport {
public:
    // A new scan: nothing has failed, and there is no note.
    void Begin();
    // None of the folder's RAW files can get a thumbnail: one line for the folder.
    void ReadOnlyFolder(const std::string &folder, std::size_t files);
    void Failed(const std::string &name, const std::string &error);
    // The pass is over; complete when it ran to its end over a folder that still exists (a
    // pass cut short knows only part of the failures). True when the box is due.
    bool PassEnded(const std::string &folder, bool complete);
    // The box's text, once: each failure (the first 20) and how many more.
    std::string TakeBoxText();
    // The note for the current-file panel at the scan's end; empty when there is none.
    const std::string &Note() const { return FNote; }

private:
    using TFailures = std::vector<std::pair<std::string, std::string>>;
    TFailures FFailures; // of the running pass
    std::size_t FFailedCount = 0;
    TFailures FBox; // what the box is to show
    TRawFailureLog FLog;
    std::string FNote;
};
