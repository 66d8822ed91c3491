// The folder scan's state, apart from any window: which pass runs, a restart asked for
// meanwhile, and the list updates the scan holds open. The main window drives it and shows
// what it reports; tests drive it with a recording view.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TScanState {
    Idle,       // no scan
    RawPass,    // converting the folder's RAW files on worker threads
    Listing,    // listing the folder and starting the extractor
    Extracting, // the extractor runs
    Stopping,   // asked to end: waits for the current RAW file or for the extractor's end
};

// What a scan asks of its window.
class IScanView {
public:
    virtual ~IScanView() = default;
    // Updates nest; the list repaints only when every begun one has ended.
    virtual void BeginListUpdate() = 0;
    virtual void EndListUpdate() = 0;
    // The folder the user has chosen by now (the folder field).
    virtual std::string FolderShown() const = 0;
    // A scan begins: the list and its images are cleared, the status says so.
    virtual void ScanStarted(const std::string &folder) = 0;
    // The RAW files the pass is to convert, in search order.
    virtual std::vector<std::string> RawFiles(const std::string &folder) = 0;
    // Starts converting the RAW files into their thumbnail files off the window's thread; the
    // view reports the end through TScanController::RawPassDone, from a later turn of the
    // event loop. A file that cannot be converted is the view's to record; an exception
    // ends the scan.
    virtual void StartRawPass(const std::string &folder, const std::vector<std::string> &names) = 0;
    // Asks the running RAW pass to end after the files in hand; its end is still reported.
    virtual void StopRawPass() = 0;
    // The pass has ended, after its last file (complete) or cut short.
    virtual void RawPassEnded(const std::string &folder, bool complete) = 0;
    // Lists the folder and starts the extractor; false when the folder has no file, so no
    // extractor runs. Raises when the extractor cannot be created.
    virtual bool StartListing(const std::string &folder) = 0;
    // Asks the running extractor to stop; its end is reported through ExtractorEnded.
    virtual void AbortExtractor() = 0;
    virtual void ShowAborting() = 0;
    // The completion step: the scan has ended and nothing runs.
    virtual void ScanEnded() = 0;
    // Runs call from a later turn of the event loop (dropped if the view goes first).
    virtual void Queue(std::function<void()> call) = 0;
};

// Holds one list update open for as long as it lives.
class TListUpdate {
public:
    explicit TListUpdate(IScanView &view) : FView(&view) { view.BeginListUpdate(); }
    ~TListUpdate() {
        if (FView)
            FView->EndListUpdate();
    }
    TListUpdate(const TListUpdate &) = delete;
    TListUpdate &operator=(const TListUpdate &) = delete;

private:
    IScanView *FView;
};

class TScanController {
public:
    explicit TScanController(IScanView &view) : FView(view) {}
    TScanController(const TScanController &) = delete;
    TScanController &operator=(const TScanController &) = delete;

    TScanState State() const { return FState; }
    bool RestartPending() const { return FRestartPending; }
    bool Closed() const { return FClosed; }
    // Scans started so far.
    int ScanCount() const { return FScanCount; }

    // A folder change or Refresh. Idle: scans the folder shown. Otherwise the running scan
    // ends (the RAW pass after its current file, the extractor by its abort) and the folder
    // shown by then is scanned once it has; several requests leave one restart.
    void Refresh();
    // Ends the running scan the same way, without a restart.
    void Stop();
    // The window closes: Stop, and no scan starts any more.
    void Close();
    // The end of the extractor's icon pass: the list update the listing left open ends.
    void IconsDone();
    // The extractor has ended (its termination step, on the window's thread).
    void ExtractorEnded();
    // The queued restart after a superseded scan (the window's rescan message).
    void Rescan();
    // The RAW pass has ended: every file done (complete) or stopped.
    void RawPassDone(bool complete);

private:
    void Start();
    void EndRawPass(bool complete);
    void List();
    void Finish();

    IScanView &FView;
    TScanState FState = TScanState::Idle;
    bool FRestartPending = false;
    bool FRescanOwed = false;
    bool FClosed = false;
    bool FWaitingForExtractor = false; // in Stopping: the extractor, not a RAW file
    int FScanCount = 0;
    std::string FFolder;
    // From the start of a scan to the end of its listing.
    std::optional<TListUpdate> FScanUpdate;
    // Opened by the listing, ended by the icon pass's end or the extractor's.
    std::optional<TListUpdate> FIconUpdate;
};
