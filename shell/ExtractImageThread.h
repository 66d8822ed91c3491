// The background thread that fills the thumbnail list: first every item's file-type icon, then
// each file's shell thumbnail, reported to the window by posted messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Graphics.h"
#include "ListView.h"
#include "ShObjIdlQuot.h"
#include "ShellApi.h"
#include "ShellIcons.h"
#include "Thread.h"

// Where the thread posts, and with which ids. The thread keeps its own copy, so the window's
// record need not outlive it.
struct TThumbnailExtractorNotify {
    HWND Window;
    UINT MsgIconsDone;
    UINT MsgUseImage;
    UINT MsgAddImage;
    UINT MsgReplaceImage;
    UINT MsgItemStarted;
};

// One distinct system icon and the items that have it.
struct TThumbnailData {
    std::int32_t IconIndex = 0;
    std::int32_t ImageIndex = 0;   // position in the thread's list = index in the window's list
    std::int32_t ShowingCount = 0; // items still showing the icon image
    std::int32_t ItemCount = 0;
    std::vector<std::int32_t> ItemIndexes; // ascending
};

class TDecodeAhead;

class TThumbnailExtractorThread : public TThread {
public:
    // Worker threads that decode pictures ahead of the thumbnail pass into the thumbnail
    // cache, for threads created from now on: negative for one per core (the default), 0 for
    // none (every picture decoded in its turn).
    static void SetDecodeAheadWorkers(int workers);

    // Created suspended, freeing itself after OnTerminate. Call on the GUI thread. Only the list
    // view's handle is kept: its items are read by messages, which fail once it is gone.
    // Width and Height are in the screen's device pixels; IconScale is the device pixels per
    // pixel the cells are shown at, so the file-type icons keep their size on screen.
    TThumbnailExtractorThread(const TThumbnailExtractorNotify &Notify, const std::string &Folder,
                              TListView *ListView, int Width, int Height, unsigned ColorDepth,
                              unsigned Flags, double IconScale = 1.0);
    ~TThumbnailExtractorThread() override;

    // Asks the run to stop and kills every extraction and decode under way; returns at once.
    void Abort();
    // For an owner that is going away, on the GUI thread: OnTerminate is dropped, the run is
    // aborted and waited for (see WaitFor). True when it has ended; the object is gone then.
    bool AbortAndWait(int timeoutMs = 10000);

    const std::string &Folder() const { return FFolder; }

protected:
    void Execute() override;

private:
    struct TSystemImages {
        HIMAGELIST Handle = nullptr;
        int Width = 0;
        int Height = 0;
    };

    void CreateSystemImages();
    void IconPass();
    void ThumbnailPass();
    std::unique_ptr<TBitmap> IconBitmap(int iconIndex);
    void DrawBorder(TBitmap &bitmap);
    void Fit(TBitmap &bitmap);
    TThumbnailData *GetThumbnailDataByItemIndex(int itemIndex);
    bool ReadCaption(int index, std::string &caption);
    void Pause();

    const TThumbnailExtractorNotify FNotify;
    ComPtr<IMalloc> FMalloc;
    std::vector<std::unique_ptr<TThumbnailData>> FThumbnailData;
    std::string FFolder;
    int FWidth;
    int FHeight;
    double FIconScale;
    unsigned FColorDepth;
    unsigned FFlags;
    HWND FListViewHandle;
    std::unique_ptr<TSystemImages> FSystemImages;
    TRunnableTaskSlot FRunnableTask;
    // Its workers run only inside Execute.
    std::unique_ptr<TDecodeAhead> FDecodeAhead;
};
