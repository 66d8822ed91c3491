#include "ExtractImageThread.h"

#include <chrono>
#include <thread>

#include "Dialogs.h"
#include "Exceptions.h"
#include "Messages.h"
#include "ShellObjHelper.h"

TThumbnailExtractorThread::TThumbnailExtractorThread(const TThumbnailExtractorNotify &Notify,
                                                     const std::string &Folder, TListView *ListView,
                                                     int Width, int Height, unsigned ColorDepth,
                                                     unsigned Flags)
    : TThread(true), FNotify(Notify), FFolder(Folder), FWidth(Width), FHeight(Height),
      FColorDepth(ColorDepth), FFlags(Flags), FListViewHandle(ListView ? ListView->Handle() : 0) {
    if (!FFolder.empty() && FFolder.back() == '/')
        FFolder.pop_back();
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
                FSystemImages.reset();
                throw;
            }
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
    ImageList_Draw(FSystemImages->Handle, iconIndex, *bitmap,
                   (bitmap->Width() - FSystemImages->Width) / 2,
                   (bitmap->Height() - FSystemImages->Height) / 2, ILD_NORMAL);
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
