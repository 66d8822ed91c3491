// Turns a folder's RAW files into their NAME.EXT.JPG thumbnail files on a pool of worker
// threads and hands the results, in listing order, to the thread that started the pass.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Graphics.h"

// What the thumbnail creator's controls hold (its Settings()), read once on the GUI thread for
// a whole pass.
struct TThumbSettings {
    int Width = 150;
    int Height = 100;
    TColor FillColor = clWhite;
    std::string Prefix;
};

enum class TRawOutcome {
    Converted, // a new thumbnail file was written
    UpToDate,  // the thumbnail file was current and left untouched
    Failed     // no new thumbnail; Error says why
};

struct TRawResult {
    std::string Name; // the RAW file's name, as listed
    TRawOutcome Outcome = TRawOutcome::Failed;
    std::string Error;
};

// Who a RAW file is: its device, inode, size and modification time in nanoseconds; empty when
// it cannot be read. A file swapped, replaced, restored or copied with its times kept is
// another one.
std::string RawFileIdentity(const std::string &raw);

// True when thumb is a whole JPEG file of ours (see JpegIsWhole) made from the RAW file of that
// identity (its source comment holds it): converting the RAW file again would write the same
// bytes. A thumbnail of an earlier version, with no identity, is not current.
bool ThumbnailIsCurrent(const std::string &identity, const std::string &thumb);

// Makes the thumbnail file of RAW file raw in folder (NAME.EXT.JPG, with the prefix) from its
// preview file, as WriteThumbnailFile does (raising as it does), recording the RAW file's
// identity as it was when the preview was taken.
void MakeRawThumbnail(const std::string &preview, const std::string &folder, const std::string &raw,
                      const TThumbSettings &settings, const std::string &identity);

// One RAW file, start to end: skipped when its thumbnail is current; else its preview goes to
// previewPath and the thumbnail is written safely beside it (a foreign picture of that name
// is left alone). Never raises: a failure comes back as the result's Error.
TRawResult ConvertRawFile(const std::string &folder, const std::string &name,
                          const TThumbSettings &settings, const std::string &previewPath);

// A pass over a list of RAW files on `workers` threads (one per core by default), each with
// its own temporary preview file. Not a widget; lives on the thread that starts it.
//
// Cancel contract: Stop() returns at once; every worker finishes at most the file it is
// converting, no OnResult is delivered after Stop(), and OnFinished(true) follows once all
// workers have ended. The destructor stops and waits for the workers.
class TRawConverter : public QObject {
    Q_OBJECT
public:
    explicit TRawConverter(int workers = 0, QObject *parent = nullptr);
    ~TRawConverter() override;

    // Run on the starting thread: once per file, in listing order (index into the names).
    std::function<void(int index, const TRawResult &result)> OnResult;
    // Run on the starting thread once the pass is over, with whether Stop() was called. It may
    // delete the converter.
    std::function<void(bool stopped)> OnFinished;

    // Starts a pass over folder's files `names`. Raises Exception when a pass is running or
    // the temporary folder cannot be used. An empty list finishes at once (queued).
    void Start(const std::string &folder, std::vector<std::string> names,
               const TThumbSettings &settings);
    void Stop();
    // Blocks until the workers have ended, without delivering anything.
    void Wait();
    bool Running() const { return FRunning; }
    int Workers() const { return FWorkers; }
    // The preview file of the process's worker number n (numbered across all passes).
    static std::string WorkerPreviewPath(int worker);
    // The preview files of the current (or last) pass's workers.
    const std::vector<std::string> &PreviewFiles() const { return FPreviews; }

private:
    void Work(int worker);
    void Deliver();
    void PostDelivery(); // with FLock held
    void JoinAll();

    int FWorkers;
    bool FRunning = false;
    std::string FFolder;
    std::vector<std::string> FNames;
    TThumbSettings FSettings;
    std::vector<std::string> FPreviews;
    std::vector<std::thread> FThreads;

    std::atomic<bool> FStop{false};
    std::atomic<int> FNextFile{0};
    std::atomic<int> FActive{0};

    std::mutex FLock; // guards the fields below
    std::vector<TRawResult> FResults;
    std::vector<char> FReady;
    bool FDeliveryPosted = false;
    int FNextDelivery = 0;    // starting thread only
    bool FDelivering = false; // starting thread only
};
