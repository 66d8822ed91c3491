#include "ExtractImageThread.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "Dialogs.h"
#include "Exceptions.h"
#include "Messages.h"
#include "ShellExtract.h"
#include "ShellObjHelper.h"

namespace {

std::atomic<int> decodeAheadWorkers{-1};

} // namespace

// Decodes the listed pictures into the thumbnail cache on worker threads while the extractor
// thread walks the list at its paced rate, so that decoding overlaps the pauses instead of
// adding to them. It holds names only: what it decodes goes to the cache, which the thumbnail
// pass's own extractions then read, so the pass posts exactly what it would without it.
class TDecodeAhead {
public:
    TDecodeAhead(int workers, SIZE size, DWORD colorDepth, DWORD flags)
        : FWorkerCount(workers), FSize(size), FColorDepth(colorDepth), FFlags(flags),
          FWorkers(std::size_t(std::max(workers, 0))) {}
    ~TDecodeAhead() { Stop(); }
    TDecodeAhead(const TDecodeAhead &) = delete;
    TDecodeAhead &operator=(const TDecodeAhead &) = delete;

    // Queues a picture; the first one starts the workers.
    void Add(std::string path) {
        if (FWorkerCount <= 0)
            return;
        std::lock_guard lock(FMutex);
        if (FKilled)
            return;
        FQueue.push_back(std::move(path));
        if (!FStarted) {
            FStarted = true;
            try {
                for (int k = 0; k < FWorkerCount; ++k)
                    FThreads.emplace_back(&TDecodeAhead::Work, this, std::size_t(k));
            } catch (const std::system_error &) {
                // Fewer workers, or none: the pass decodes what is left in its turn.
            }
        }
        FChanged.notify_one();
    }

    // Before the pass extracts path itself: a picture no worker has begun leaves the queue
    // (with any left behind the pass), one under way is waited for, so none is decoded twice.
    void Claim(const std::string &path) {
        std::unique_lock lock(FMutex);
        const auto it = std::find(FQueue.begin(), FQueue.end(), path);
        if (it != FQueue.end())
            FQueue.erase(FQueue.begin(), it + 1);
        FChanged.wait(lock, [&] {
            return std::none_of(FWorkers.begin(), FWorkers.end(),
                                [&](const TWorker &w) { return w.Busy && w.Path == path; });
        });
    }

    // From any thread: drops the queue and kills the decodes under way; returns at once.
    void Kill() {
        std::vector<ComPtr<IRunnableTask>> tasks;
        {
            std::lock_guard lock(FMutex);
            FKilled = true;
            FQueue.clear();
            for (const TWorker &w : FWorkers)
                if (w.Task)
                    tasks.push_back(w.Task);
        }
        FChanged.notify_all();
        for (const ComPtr<IRunnableTask> &task : tasks)
            task->Kill(0);
    }

    // Kills, then waits for the workers to end.
    void Stop() {
        Kill();
        for (std::thread &t : FThreads)
            t.join();
        FThreads.clear();
    }

private:
    struct TWorker {
        bool Busy = false;
        std::string Path;
        ComPtr<IRunnableTask> Task;
    };

    void Work(std::size_t index) {
        for (;;) {
            std::string path;
            {
                std::unique_lock lock(FMutex);
                FChanged.wait(lock, [&] { return FKilled || !FQueue.empty(); });
                if (FKilled)
                    return;
                path = std::move(FQueue.front());
                FQueue.pop_front();
                FWorkers[index].Busy = true;
                FWorkers[index].Path = path;
            }
            try {
                ComPtr<IRunnableTask> task;
                if (SUCCEEDED(CreateThumbnailPrefetch(path, FSize, FColorDepth, FFlags,
                                                      task.PutVoid())) &&
                    task) {
                    bool run = false;
                    {
                        std::lock_guard lock(FMutex);
                        run = !FKilled;
                        if (run)
                            FWorkers[index].Task = task;
                    }
                    if (run)
                        task->Run();
                }
            } catch (...) {
                // Nothing was cached: the pass decodes the picture in its turn.
            }
            {
                std::lock_guard lock(FMutex);
                FWorkers[index] = TWorker();
            }
            FChanged.notify_all();
        }
    }

    const int FWorkerCount;
    const SIZE FSize;
    const DWORD FColorDepth;
    const DWORD FFlags;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::string> FQueue;
    std::vector<TWorker> FWorkers;
    std::vector<std::thread> FThreads;
    bool FStarted = false;
    bool FKilled = false;
};

void TThumbnailExtractorThread::SetDecodeAheadWorkers(int workers) {
    decodeAheadWorkers = workers;
}

TThumbnailExtractorThread::TThumbnailExtractorThread(const TThumbnailExtractorNotify &Notify,
                                                     const std::string &Folder, TListView *ListView,
                                                     int Width, int Height, unsigned ColorDepth,
                                                     unsigned Flags, double IconScale)
    : TThread(true), FNotify(Notify), FFolder(Folder), FWidth(Width), FHeight(Height),
      FIconScale(IconScale > 0 ? IconScale : 1.0), FColorDepth(ColorDepth), FFlags(Flags),
      FListViewHandle(ListView ? ListView->Handle() : 0) {
    if (!FFolder.empty() && FFolder.back() == '/')
        FFolder.pop_back();
    const int workers = decodeAheadWorkers;
    // The extraction asks with IEIFLAG_ASYNC added, so the decode ahead does too.
    FDecodeAhead = std::make_unique<TDecodeAhead>(
        workers < 0 ? std::max(1, QThread::idealThreadCount()) : workers, SIZE{FWidth, FHeight},
        FColorDepth, FFlags | IEIFLAG_ASYNC);
    FreeOnTerminate = true;
}

TThumbnailExtractorThread::~TThumbnailExtractorThread() {
    FThumbnailData.clear();
    FMalloc.Reset();
    FRunnableTask.Clear();
}

void TThumbnailExtractorThread::Abort() {
    Terminate();
    FRunnableTask.Kill();
    FDecodeAhead->Kill();
}

bool TThumbnailExtractorThread::AbortAndWait(int timeoutMs) {
    OnTerminate = nullptr;
    Abort();
    return WaitFor(timeoutMs);
}

void TThumbnailExtractorThread::Pause() {
    // The pause after every item leaves the GUI thread time to handle what was posted.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool TThumbnailExtractorThread::ReadCaption(int index, std::string &caption) {
    return ListView_GetItemText(FListViewHandle, index, caption);
}

void TThumbnailExtractorThread::Execute() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        try {
            IMalloc *malloc = nullptr;
            OleCheck(SHGetMalloc(&malloc));
            FMalloc = ComPtr<IMalloc>(malloc);
            CreateSystemImages();
            try {
                IconPass();
                PostMessageA(FNotify.Window, FNotify.MsgIconsDone, 0, 0);
                if (!Terminated())
                    ThumbnailPass();
            } catch (...) {
                FDecodeAhead->Stop();
                FSystemImages.reset();
                throw;
            }
            // No decode outlives the run.
            FDecodeAhead->Stop();
            FSystemImages.reset();
        } catch (...) {
            CoUninitialize();
            throw;
        }
        CoUninitialize();
    } catch (const Exception &e) {
        Terminate();
        MessageBoxA(FNotify.Window, e.Message(), e.ClassName(), MB_ICONERROR);
    } catch (const std::bad_alloc &) {
        Terminate();
        const EOutOfMemory e = MakeOutOfMemory();
        MessageBoxA(FNotify.Window, e.Message(), e.ClassName(), MB_ICONERROR);
    }
}

void TThumbnailExtractorThread::CreateSystemImages() {
    auto images = std::make_unique<TSystemImages>();
    images->Width = GetSystemMetrics(SM_CXICON);
    images->Height = GetSystemMetrics(SM_CYICON);
    SHFILEINFOA info{};
    images->Handle = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("", 0, &info, sizeof(info), SHGFI_SYSICONINDEX));
    if (!images->Handle)
        throw EThumbnailExtractorThreadError("Cannot obtain System ImageList handle");
    // The list's own icon size wins over the metrics.
    ImageList_GetIconSize(images->Handle, &images->Width, &images->Height);
    FSystemImages = std::move(images);
}

void TThumbnailExtractorThread::IconPass() {
    const int count = ListView_GetItemCount(FListViewHandle);
    for (int i = 0; i < count; ++i) {
        std::string caption;
        // Items removed since the count was read get no messages.
        if (!ReadCaption(i, caption))
            break;
        FDecodeAhead->Add(FFolder + "/" + caption);
        PostMessageA(FNotify.Window, FNotify.MsgItemStarted, WPARAM(i), 0);
        const int iconIndex = GetSysIconIndex(FFolder + "/" + caption);

        TThumbnailData *found = nullptr;
        for (auto &entry : FThumbnailData) {
            if (entry->IconIndex == iconIndex) {
                found = entry.get();
                break;
            }
        }
        if (found) {
            found->ItemIndexes.push_back(i);
            ++found->ShowingCount;
            ++found->ItemCount;
            PostMessageA(FNotify.Window, FNotify.MsgUseImage, WPARAM(i), LPARAM(found->ImageIndex));
        } else {
            auto entry = std::make_unique<TThumbnailData>();
            entry->IconIndex = iconIndex;
            entry->ImageIndex = int(FThumbnailData.size());
            entry->ShowingCount = 1;
            entry->ItemCount = 1;
            entry->ItemIndexes.push_back(i);
            FThumbnailData.push_back(std::move(entry));
            std::unique_ptr<TBitmap> bitmap = IconBitmap(iconIndex);
            PostBitmapMessage(FNotify.Window, FNotify.MsgAddImage, WPARAM(i), bitmap.release());
        }
        Pause();
        if (Terminated())
            break;
    }
}

std::unique_ptr<TBitmap> TThumbnailExtractorThread::IconBitmap(int iconIndex) {
    auto bitmap = std::make_unique<TBitmap>(FWidth, FHeight);
    bitmap->Fill(clWindow);
    if (FIconScale == 1.0) {
        ImageList_Draw(FSystemImages->Handle, iconIndex, *bitmap,
                       (bitmap->Width() - FSystemImages->Width) / 2,
                       (bitmap->Height() - FSystemImages->Height) / 2, ILD_NORMAL);
    } else {
        const int w = int(std::lround(FSystemImages->Width * FIconScale));
        const int h = int(std::lround(FSystemImages->Height * FIconScale));
        ImageList_DrawEx(FSystemImages->Handle, iconIndex, *bitmap, (bitmap->Width() - w) / 2,
                         (bitmap->Height() - h) / 2, w, h, ILD_NORMAL | ILD_SCALE);
    }
    DrawBorder(*bitmap);
    return bitmap;
}

void TThumbnailExtractorThread::DrawBorder(TBitmap &bitmap) {
    bitmap.FrameRect(QRect(0, 0, bitmap.Width(), bitmap.Height()), clBtnFace);
}

void TThumbnailExtractorThread::Fit(TBitmap &bitmap) {
    // Centred without scaling: a smaller picture gets a clWindow margin, of a larger one only
    // the middle shows.
    const TBitmap copy(bitmap);
    bitmap.SetSize(FWidth, FHeight);
    bitmap.Fill(clWindow);
    bitmap.CopyFrom(copy, (FWidth - copy.Width()) / 2, (FHeight - copy.Height()) / 2);
}

TThumbnailData *TThumbnailExtractorThread::GetThumbnailDataByItemIndex(int itemIndex) {
    for (auto &entry : FThumbnailData) {
        for (int k = 0; k < entry->ItemCount; ++k) {
            if (entry->ItemIndexes[std::size_t(k)] == itemIndex)
                return entry.get();
        }
    }
    throw EThumbnailExtractorThreadError("GetThumbnailDataByItemIndex(): item not found");
}

void TThumbnailExtractorThread::ThumbnailPass() {
    if (ListView_GetItemCount(FListViewHandle) == 0)
        return;
    ComPtr<IShellFolder> folder;
    GetShellFolder(FFolder.empty() ? std::string("/") : FFolder, FMalloc.Get(), folder);

    const int count = ListView_GetItemCount(FListViewHandle);
    ComPtr<IExtractImage> extractImage;
    for (int i = 0; i < count; ++i) {
        std::string caption;
        if (!ReadCaption(i, caption))
            break;
        PostMessageA(FNotify.Window, FNotify.MsgItemStarted, WPARAM(i), 0);
        // A picture decoded ahead is in the cache now; one under way is finished first.
        FDecodeAhead->Claim(FFolder + "/" + caption);

        bool haveExtractor = false;
        try {
            haveExtractor = GetExtractImage(folder.Get(), caption, FMalloc.Get(), extractImage);
        } catch (const EOleSysError &e) {
            // A file deleted since the listing keeps its icon; other failures end the run.
            if (e.ErrorCode() != E_FILE_NOT_FOUND && e.ErrorCode() != HRESULT_FROM_WIN32(3))
                throw;
        }
        if (haveExtractor) {
            DWORD flags = FFlags;
            FRunnableTask.Clear();
            std::unique_ptr<TBitmap> bitmap;
            const bool made = GetThumbnailBitmap(extractImage.Get(), FWidth, FHeight, FColorDepth,
                                                 flags, FRunnableTask, bitmap);
            FRunnableTask.Clear();
            if (made && !Terminated()) {
                if (bitmap->Width() != FWidth || bitmap->Height() != FHeight)
                    Fit(*bitmap);
                if (!(flags & IEIFLAG_NOBORDER))
                    DrawBorder(*bitmap);
                TThumbnailData *entry = GetThumbnailDataByItemIndex(i);
                const UINT msg =
                    entry->ShowingCount > 1 ? FNotify.MsgAddImage : FNotify.MsgReplaceImage;
                PostBitmapMessage(FNotify.Window, msg, WPARAM(i), bitmap.release());
                --entry->ShowingCount;
            }
        }
        extractImage.Reset();
        Pause();
        if (Terminated())
            break;
    }
}
