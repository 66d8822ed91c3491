// The scan's state machine without a window: Stop, Refresh and Close in every state, a failed
// extractor creation, and the list updates it holds, against a recording view.
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

#include "ScanController.h"

namespace {

class TRecordingView : public IScanView {
public:
    void BeginListUpdate() override { ++Begun; }
    void EndListUpdate() override { ++Ended; }
    std::string FolderShown() const override { return Folder; }
    void ScanStarted(const std::string &folder) override { Scanned.push_back(folder); }
    std::vector<std::string> RawFiles(const std::string &) override { return Raw; }
    // Stands in for the workers: one file per turn of the queue, then the end of the pass.
    void StartRawPass(const std::string &, const std::vector<std::string> &names) override {
        RawStopped = false;
        Queue([this, names] { RawTurn(names, 0); });
    }
    void StopRawPass() override { RawStopped = true; }
    void RawTurn(const std::vector<std::string> &names, std::size_t next) {
        if (RawStopped) {
            Owner->RawPassDone(false);
            return;
        }
        Converted.push_back(names[next]);
        if (next + 1 == names.size())
            Owner->RawPassDone(true);
        else
            Queue([this, names, next] { RawTurn(names, next + 1); });
    }
    void RawPassEnded(const std::string &, bool complete) override {
        PassesEnded.push_back(complete);
    }
    bool StartListing(const std::string &folder) override {
        Listed.push_back(folder);
        if (DuringListing) {
            auto hook = std::move(DuringListing);
            DuringListing = nullptr;
            hook();
        }
        if (FailListing)
            throw std::runtime_error("Cannot create the extractor");
        ExtractorRunning = HasFiles;
        return HasFiles;
    }
    void AbortExtractor() override { ++Aborts; }
    void ShowAborting() override { ++AbortingShown; }
    void ScanEnded() override { ++Ends; }
    void Queue(std::function<void()> call) override { Queued.push_back(std::move(call)); }

    int OpenUpdates() const { return Begun - Ended; }

    std::string Folder = "/a";
    std::vector<std::string> Raw = {"1.CR2", "2.CR2"};
    bool HasFiles = true;
    bool FailListing = false;
    std::function<void()> DuringListing;

    int Begun = 0, Ended = 0, Aborts = 0, AbortingShown = 0, Ends = 0;
    bool ExtractorRunning = false;
    std::vector<std::string> Scanned, Converted, Listed;
    std::vector<bool> PassesEnded;
    std::deque<std::function<void()>> Queued;
    TScanController *Owner = nullptr;
    bool RawStopped = false;
};

enum class Event { Stop, Refresh, Close };

const char *EventName(Event e) {
    return e == Event::Stop ? "Stop" : e == Event::Refresh ? "Refresh" : "Close";
}

class ScanControllerTest : public ::testing::Test {
protected:
    // Runs queued turns and lets a running extractor end, until nothing is left.
    void Settle() {
        for (int guard = 0; guard < 100; ++guard) {
            if (!View.Queued.empty()) {
                auto call = std::move(View.Queued.front());
                View.Queued.pop_front();
                call();
            } else if (View.ExtractorRunning) {
                View.ExtractorRunning = false;
                Scan.ExtractorEnded();
            } else {
                return;
            }
        }
        FAIL() << "the scan never settled";
    }

    ScanControllerTest() { View.Owner = &Scan; }

    TRecordingView View;
    TScanController Scan{View};
};

TEST_F(ScanControllerTest, EveryEventInEveryState) {
    enum class From { Idle, RawPass, Listing, Extracting, Stopping, StoppingForRestart };
    struct Row {
        From from;
        Event event;
        TScanState after;    // right after the event
        bool restartPending; // right after the event
        int aborts;          // extractor aborts asked in all
        int scans;           // scans started once everything has settled
        int converted;       // RAW files converted in all
    };
    const Row rows[] = {
        {From::Idle, Event::Stop, TScanState::Idle, false, 0, 0, 0},
        {From::Idle, Event::Refresh, TScanState::RawPass, false, 0, 1, 2},
        {From::Idle, Event::Close, TScanState::Idle, false, 0, 0, 0},
        // The RAW pass ends before its next file; a Refresh then scans again, in full.
        {From::RawPass, Event::Stop, TScanState::Stopping, false, 0, 1, 1},
        {From::RawPass, Event::Refresh, TScanState::Stopping, true, 0, 2, 3},
        {From::RawPass, Event::Close, TScanState::Stopping, false, 0, 1, 1},
        // During the listing: the extractor it starts is stopped at once.
        {From::Listing, Event::Stop, TScanState::Stopping, false, 1, 1, 2},
        {From::Listing, Event::Refresh, TScanState::Stopping, true, 1, 2, 4},
        {From::Listing, Event::Close, TScanState::Stopping, false, 1, 1, 2},
        {From::Extracting, Event::Stop, TScanState::Stopping, false, 1, 1, 2},
        {From::Extracting, Event::Refresh, TScanState::Stopping, true, 1, 2, 4},
        {From::Extracting, Event::Close, TScanState::Stopping, false, 1, 1, 2},
        // Already stopping: no second abort.
        {From::Stopping, Event::Stop, TScanState::Stopping, false, 1, 1, 2},
        {From::Stopping, Event::Refresh, TScanState::Stopping, true, 1, 2, 4},
        {From::Stopping, Event::Close, TScanState::Stopping, false, 1, 1, 2},
        {From::StoppingForRestart, Event::Stop, TScanState::Stopping, false, 1, 1, 2},
        {From::StoppingForRestart, Event::Refresh, TScanState::Stopping, true, 1, 2, 4},
        {From::StoppingForRestart, Event::Close, TScanState::Stopping, false, 1, 1, 2},
    };
    for (const Row &row : rows) {
        TRecordingView view;
        TScanController scan(view);
        view.Owner = &scan;
        const std::string label = std::to_string(int(row.from)) + " " + EventName(row.event);
        auto apply = [&] {
            switch (row.event) {
            case Event::Stop:
                scan.Stop();
                break;
            case Event::Refresh:
                scan.Refresh();
                break;
            case Event::Close:
                scan.Close();
                break;
            }
        };
        auto settle = [&] {
            for (int guard = 0; guard < 100; ++guard) {
                if (!view.Queued.empty()) {
                    auto call = std::move(view.Queued.front());
                    view.Queued.pop_front();
                    call();
                } else if (view.ExtractorRunning) {
                    view.ExtractorRunning = false;
                    scan.ExtractorEnded();
                } else {
                    return;
                }
            }
            ADD_FAILURE() << label << ": never settled";
        };
        auto runOneTurn = [&] {
            auto call = std::move(view.Queued.front());
            view.Queued.pop_front();
            call();
        };

        switch (row.from) {
        case From::Idle:
            break;
        case From::RawPass:
            scan.Refresh();
            runOneTurn(); // the first file is converted, the second waits for its turn
            ASSERT_EQ(scan.State(), TScanState::RawPass) << label;
            break;
        case From::Listing:
            view.DuringListing = [&] {
                EXPECT_EQ(scan.State(), TScanState::Listing) << label;
                apply();
                EXPECT_EQ(scan.State(), row.after) << label;
                EXPECT_EQ(scan.RestartPending(), row.restartPending) << label;
            };
            scan.Refresh();
            settle();
            break;
        case From::Extracting:
        case From::Stopping:
        case From::StoppingForRestart:
            scan.Refresh();
            while (scan.State() == TScanState::RawPass)
                runOneTurn();
            ASSERT_EQ(scan.State(), TScanState::Extracting) << label;
            if (row.from == From::Stopping)
                scan.Stop();
            if (row.from == From::StoppingForRestart)
                scan.Refresh();
            break;
        }
        if (row.from != From::Listing) {
            apply();
            EXPECT_EQ(scan.State(), row.after) << label;
            EXPECT_EQ(scan.RestartPending(), row.restartPending) << label;
            settle();
        }
        EXPECT_EQ(scan.State(), TScanState::Idle) << label;
        EXPECT_EQ(view.Aborts, row.aborts) << label;
        EXPECT_EQ(int(view.Scanned.size()), row.scans) << label;
        EXPECT_EQ(int(view.Converted.size()), row.converted) << label;
        EXPECT_EQ(view.Ends, row.scans) << label; // one completion step per scan
        EXPECT_EQ(view.OpenUpdates(), 0) << label;
        // After a close nothing starts any more.
        if (row.event == Event::Close) {
            scan.Refresh();
            settle();
            EXPECT_EQ(int(view.Scanned.size()), row.scans) << label;
        }
    }
}

TEST_F(ScanControllerTest, ARawPassRunsUntilItReportsItsEndAndThenLists) {
    Scan.Refresh();
    EXPECT_EQ(View.OpenUpdates(), 1); // no repaint while the pass runs
    EXPECT_TRUE(View.Converted.empty());
    ASSERT_EQ(View.Queued.size(), 1u);
    Settle();
    EXPECT_EQ(View.Converted, (std::vector<std::string>{"1.CR2", "2.CR2"}));
    EXPECT_EQ(View.PassesEnded, std::vector<bool>{true});
    EXPECT_EQ(View.Listed, std::vector<std::string>{"/a"});
}

TEST_F(ScanControllerTest, TheListingsUpdateStaysOpenUntilTheIconsAreDone) {
    View.Raw.clear();
    Scan.Refresh();
    EXPECT_EQ(Scan.State(), TScanState::Extracting);
    EXPECT_EQ(View.OpenUpdates(), 1);
    Scan.IconsDone();
    EXPECT_EQ(View.OpenUpdates(), 0);
    Scan.IconsDone(); // a second end ends nothing more
    EXPECT_EQ(View.OpenUpdates(), 0);
    Settle();
    EXPECT_EQ(View.Ends, 1);
}

TEST_F(ScanControllerTest, ARunWithoutIconsDoneStillEndsItsUpdate) {
    View.Raw.clear();
    Scan.Refresh();
    Settle(); // the extractor ends without its icon pass's end
    EXPECT_EQ(View.OpenUpdates(), 0);
}

TEST_F(ScanControllerTest, AFolderWithoutFilesEndsAtOnce) {
    View.Raw.clear();
    View.HasFiles = false;
    Scan.Refresh();
    EXPECT_EQ(Scan.State(), TScanState::Idle);
    EXPECT_EQ(View.Ends, 1);
    EXPECT_EQ(View.OpenUpdates(), 0);
}

TEST_F(ScanControllerTest, AFailedExtractorCreationEndsTheScanAndTheNextOneRuns) {
    View.Raw.clear();
    View.FailListing = true;
    EXPECT_THROW(Scan.Refresh(), std::runtime_error);
    EXPECT_EQ(Scan.State(), TScanState::Idle);
    EXPECT_EQ(View.OpenUpdates(), 0);
    EXPECT_EQ(View.Ends, 1);
    View.FailListing = false;
    Scan.Refresh();
    EXPECT_EQ(Scan.State(), TScanState::Extracting);
}

TEST_F(ScanControllerTest, SeveralChangesLeaveOneRestartForTheFolderShownLast) {
    View.Raw.clear();
    Scan.Refresh();
    View.Folder = "/b";
    Scan.Refresh();
    View.Folder = "/c";
    Scan.Refresh();
    EXPECT_EQ(View.Aborts, 1);
    Settle();
    EXPECT_EQ(View.Scanned, (std::vector<std::string>{"/a", "/c"}));
}

TEST_F(ScanControllerTest, AUserScanBeforeTheQueuedRestartTakesItsPlace) {
    View.Raw.clear();
    Scan.Refresh();
    Scan.Refresh(); // restart pending
    View.ExtractorRunning = false;
    Scan.ExtractorEnded(); // the restart is queued now
    ASSERT_EQ(View.Queued.size(), 1u);
    Scan.Refresh(); // the user is quicker
    Settle();
    EXPECT_EQ(View.Scanned.size(), 2u);
}

TEST_F(ScanControllerTest, ARawPassThatCannotStartEndsTheScan) {
    struct TThrowingView : TRecordingView {
        void StartRawPass(const std::string &, const std::vector<std::string> &) override {
            throw std::runtime_error("no temporary folder");
        }
    } view;
    TScanController scan(view);
    view.Owner = &scan;
    EXPECT_THROW(scan.Refresh(), std::runtime_error);
    EXPECT_EQ(scan.State(), TScanState::Idle);
    EXPECT_EQ(view.OpenUpdates(), 0);
    EXPECT_TRUE(view.Listed.empty());
    EXPECT_TRUE(view.Queued.empty());
    // A late report of a pass that never ran changes nothing.
    scan.RawPassDone(true);
    EXPECT_TRUE(view.Listed.empty());
}

} // namespace
