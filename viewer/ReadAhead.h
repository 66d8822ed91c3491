// The viewer's read-ahead: the pictures around the one shown, decoded at the size the screen
// needs on a thread of their own, so that a step shows the next picture without decoding.
#pragma once

#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Graphics.h"
#include "ShObjIdlQuot.h"

// What the viewer would show of a file: the RAW road's preview fitted to the screen, or the
// shell's picture at the picture control's size with the viewer's depth and option word.
struct TScreenRequest {
    std::string Path; // the RAW file itself on the RAW road
    bool Raw = false;
    QSize Size;         // device pixels: the largest screen (RAW road) or the control (shell)
    unsigned Depth = 0; // shell road only
    DWORD Flags = 0;    // shell road only
    bool operator==(const TScreenRequest &) const = default;
};

struct TScreenPicture {
    bool Made = false;
    QImage Image;                          // RAW road: upright, fitted to the screen
    std::shared_ptr<const TBitmap> Bitmap; // shell road
    DWORD Flags = 0;                       // shell road: the flags the extractor returned
    std::size_t Bytes() const;
};

// The shell road's one decode: the picture the shell renders of path at deviceSize, with the
// flags as the extractor returns them. While it runs the extractor's task stands in task, so
// another thread can kill it. Raises what the shell raises for a name it cannot parse.
TScreenPicture DecodeForScreen(const std::string &path, QSize deviceSize, unsigned depth,
                               DWORD flags, TRunnableTaskSlot &task);

// The RAW road's one decode: the preview of rawPath written to the viewer's preview file of
// `worker` (removed again once read) and decoded upright at the screen's size (see
// PreviewForScreen). A null image when the file has no preview; raises EJPEG
// JpegCancelledMessage once cancel is raised (which also stops the extraction's helper), and
// what the extraction raises. Calls for one worker's file take turns.
QImage DecodeRawForScreen(const std::string &rawPath, QSize screen, int worker,
                          const std::atomic<bool> *cancel = nullptr);

// A preview file's bytes as the viewer shows them: decoded with libjpeg's DCT scaling no larger
// than needed, turned upright, then scaled smoothly to the largest size a proportional fit on
// the screen shows of it, upright or turned a quarter. Raises as DecodeJpeg.
QImage PreviewForScreen(const std::vector<std::uint8_t> &bytes, QSize screen,
                        const std::atomic<bool> *cancel = nullptr);

// Who a file is (device, inode, size, modification time); empty when it cannot be read. A
// file deleted, renamed away, replaced or rewritten is another one.
std::string ScreenFileIdentity(const std::string &path);

// Cancel contract: Want() and Clear() return at once; a decode no longer wanted is told to stop
// (its cancel flag rises and the shell's task is killed) and its picture is never held. The
// destructor cancels the running decode and waits for the thread.
class TReadAhead {
public:
    using TDecoder = std::function<TScreenPicture(
        const TScreenRequest &, const std::atomic<bool> &cancel, TRunnableTaskSlot &task)>;
    // At most this many decoded pictures are held, the one shown included.
    static constexpr int MaxHeld = 5;

    // The decoder runs on the read-ahead's thread; by default DecodeScreenRequest.
    explicit TReadAhead(TDecoder decoder = {});
    ~TReadAhead();
    TReadAhead(const TReadAhead &) = delete;
    TReadAhead &operator=(const TReadAhead &) = delete;

    // The pictures to have ready, most wanted first, and the one shown (kept when held).
    // Everything else is dropped and its decode cancelled.
    void Want(const std::vector<TScreenRequest> &wanted,
              const std::optional<TScreenRequest> &shown);
    // The picture for request when it is decoded and its file is still the one decoded.
    std::optional<TScreenPicture> Ready(const TScreenRequest &request);
    // True while request is being decoded: a step faster than the read-ahead waits for
    // OnDecoded rather than decoding the same picture twice.
    bool Running(const TScreenRequest &request) const;
    void Clear();

    int Held() const;
    std::size_t HeldBytes() const;
    int Cancelled() const; // decodes stopped because they were no longer wanted
    // Run on the read-ahead's thread after each decode has ended (held or dropped).
    std::function<void()> OnDecoded;

private:
    struct TEntry {
        TScreenRequest Request;
        std::string Identity;
        TScreenPicture Picture;
    };
    void Run();
    bool IsWanted(const TScreenRequest &request) const; // FLock held
    void Trim();                                        // FLock held
    const TScreenRequest *NextJob() const;              // FLock held

    TDecoder FDecoder;
    mutable std::mutex FLock; // guards everything below
    std::condition_variable FWake;
    std::vector<TScreenRequest> FWanted;
    std::optional<TScreenRequest> FShown;
    std::vector<TEntry> FHeld;
    std::optional<TScreenRequest> FRunning;
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::shared_ptr<TRunnableTaskSlot> FTask;
    int FCancelled = 0;
    bool FStop = false;
    std::thread FThread; // last: starts once everything above exists
};

// The decode of one request: DecodeRawForScreen on the RAW road (the read-ahead's own preview
// file), DecodeForScreen on the shell road.
TScreenPicture DecodeScreenRequest(const TScreenRequest &request, const std::atomic<bool> &cancel,
                                   TRunnableTaskSlot &task);
