#include "ScanController.h"

void TScanController::Refresh() {
    if (FClosed)
        return;
    switch (FState) {
    case TScanState::Idle:
        Start();
        break;
    case TScanState::RawPass:
        // Ends after the files being converted; the pass reports its end.
        FRestartPending = true;
        FState = TScanState::Stopping;
        FWaitingForExtractor = false;
        FView.StopRawPass();
        break;
    case TScanState::Listing:
        // Only reachable from inside the listing; the extractor it starts is stopped at once.
        FRestartPending = true;
        FState = TScanState::Stopping;
        FWaitingForExtractor = true;
        break;
    case TScanState::Extracting:
        FRestartPending = true;
        FState = TScanState::Stopping;
        FWaitingForExtractor = true;
        FView.AbortExtractor();
        break;
    case TScanState::Stopping:
        FRestartPending = true;
        break;
    }
}

void TScanController::Stop() {
    FRestartPending = false;
    FRescanOwed = false;
    switch (FState) {
    case TScanState::Idle:
        break;
    case TScanState::RawPass:
        FState = TScanState::Stopping;
        FWaitingForExtractor = false;
        FView.ShowAborting();
        FView.StopRawPass();
        break;
    case TScanState::Listing:
        FState = TScanState::Stopping;
        FWaitingForExtractor = true;
        break;
    case TScanState::Extracting:
        FState = TScanState::Stopping;
        FWaitingForExtractor = true;
        FView.ShowAborting();
        FView.AbortExtractor();
        break;
    case TScanState::Stopping:
        FView.ShowAborting();
        break;
    }
}

void TScanController::Close() {
    FClosed = true;
    Stop();
}

void TScanController::Start() {
    ++FScanCount;
    FRescanOwed = false;
    FRestartPending = false;
    FFolder = FView.FolderShown();
    FState = TScanState::RawPass;
    FScanUpdate.emplace(FView);
    bool rawPass = false;
    try {
        FView.ScanStarted(FFolder);
        const std::vector<std::string> raws = FView.RawFiles(FFolder);
        rawPass = !raws.empty();
        if (rawPass)
            FView.StartRawPass(FFolder, raws);
    } catch (...) {
        FScanUpdate.reset();
        Finish();
        throw;
    }
    if (!rawPass)
        List();
}

void TScanController::RawPassDone(bool complete) {
    const bool inPass =
        FState == TScanState::RawPass || (FState == TScanState::Stopping && !FWaitingForExtractor);
    if (!inPass || !FScanUpdate)
        return;
    EndRawPass(complete && FState == TScanState::RawPass);
}

void TScanController::EndRawPass(bool complete) {
    FView.RawPassEnded(FFolder, complete);
    if (FState == TScanState::Stopping) {
        // Stopped or superseded: nothing is listed; the completion step restarts if asked.
        FScanUpdate.reset();
        Finish();
        return;
    }
    List();
}

void TScanController::List() {
    FState = TScanState::Listing;
    bool started = false;
    try {
        FIconUpdate.emplace(FView);
        started = FView.StartListing(FFolder);
    } catch (...) {
        FIconUpdate.reset();
        FScanUpdate.reset();
        FRestartPending = false;
        Finish();
        throw;
    }
    FScanUpdate.reset();
    if (!started) {
        FIconUpdate.reset();
        Finish();
        return;
    }
    if (FState == TScanState::Stopping) {
        // Stopped or superseded while the listing ran.
        FView.AbortExtractor();
        return;
    }
    FState = TScanState::Extracting;
}

void TScanController::IconsDone() {
    FIconUpdate.reset();
}

void TScanController::ExtractorEnded() {
    if (FState != TScanState::Extracting &&
        !(FState == TScanState::Stopping && FWaitingForExtractor))
        return;
    FIconUpdate.reset();
    Finish();
}

void TScanController::Finish() {
    FState = TScanState::Idle;
    FWaitingForExtractor = false;
    FView.ScanEnded();
    if (FRestartPending && !FClosed) {
        FRestartPending = false;
        FRescanOwed = true;
        FView.Queue([this] { Rescan(); });
    }
    FRestartPending = false;
}

void TScanController::Rescan() {
    // A scan started by the user since then has taken the restart's place.
    if (!FRescanOwed || FClosed || FState != TScanState::Idle)
        return;
    Start();
}
