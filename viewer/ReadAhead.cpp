#include "ReadAhead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "Exceptions.h"
#include "FileRead.h"
#include "JpegCodec.h"
#include "PreviewPicture.h"
#include "RawPreview.h"
#include "ShellObjHelper.h"
#include "view.h"

namespace {

// The viewer's own preview file is number 0; the read-ahead writes its own.
constexpr int ReadAheadWorker = 1;

} // namespace

std::size_t TScreenPicture::Bytes() const {
    std::size_t bytes = std::size_t(Image.sizeInBytes());
    if (Bitmap)
        bytes += std::size_t(Bitmap->Image().sizeInBytes());
    return bytes;
}

TScreenPicture DecodeForScreen(const std::string &path, QSize deviceSize, unsigned depth,
                               DWORD flags, TRunnableTaskSlot &task) {
    TScreenPicture picture;
    picture.Flags = flags;
    ComPtr<IExtractImage> extractor;
    if (!GetExtractImageForFile(path, extractor))
        return picture;
    std::unique_ptr<TBitmap> bitmap;
    picture.Made = GetThumbnailBitmap(extractor.Get(), deviceSize.width(), deviceSize.height(),
                                      depth, picture.Flags, task, bitmap) &&
                   bitmap != nullptr;
    picture.Bitmap = std::move(bitmap);
    return picture;
}

QImage PreviewForScreen(const std::vector<std::uint8_t> &bytes, QSize screen,
                        const std::atomic<bool> *cancel) {
    const JpegHeaderInfo info = ReadJpegHeader(bytes.data(), bytes.size());
    const int denom = PreviewScaleDenom(info.width, info.height, screen);
    // Scaled first and turned after: the turn then moves the few pixels that are kept.
    QImage image = DecodeJpeg(bytes.data(), bytes.size(), denom, cancel);
    const int flip = PreviewTurn(bytes.data(), bytes.size());
    if (image.isNull() || screen.isEmpty())
        return TurnUpright(image, flip);
    // What a fit shows at most, upright or turned (the same either way round the picture
    // stands): more pixels would only be held, never seen.
    const double w = image.width(), h = image.height();
    const double fit = std::max(std::min(screen.width() / w, screen.height() / h),
                                std::min(screen.width() / h, screen.height() / w));
    if (fit < 1.0)
        image = image.scaled(
            QSize(std::max(1, int(std::lround(w * fit))), std::max(1, int(std::lround(h * fit)))),
            Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return TurnUpright(image, flip);
}

QImage DecodeRawForScreen(const std::string &rawPath, QSize screen, int worker,
                          const std::atomic<bool> *cancel) {
    // A decode superseded while it writes or reads the file must not remove the next one's.
    static std::mutex fileLocks[4];
    std::vector<std::uint8_t> bytes;
    {
        const std::lock_guard lock(fileLocks[unsigned(worker) % std::size(fileLocks)]);
        const std::string file = TempPreviewPath(TempPreview::Viewer, worker);
        if (ExtractPreviewToFile(rawPath, file, cancel) != 0) {
            if (cancel && cancel->load())
                throw EJPEG(JpegCancelledMessage);
            return {};
        }
        // Once read the preview file is of no more use; it would hold memory where the
        // temporary folder lives in memory.
        struct TUsedUp {
            const std::string &path;
            ~TUsedUp() { ::unlink(path.c_str()); }
        } usedUp{file};
        bytes = ReadWholeFile(file);
    }
    if (cancel && cancel->load())
        throw EJPEG(JpegCancelledMessage);
    return PreviewForScreen(bytes, screen, cancel);
}

std::string ScreenFileIdentity(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
           std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec);
}

TScreenPicture DecodeScreenRequest(const TScreenRequest &request, const std::atomic<bool> &cancel,
                                   TRunnableTaskSlot &task) {
    if (!request.Raw)
        return DecodeForScreen(request.Path, request.Size, request.Depth, request.Flags, task);
    TScreenPicture picture;
    picture.Image = DecodeRawForScreen(request.Path, request.Size, ReadAheadWorker, &cancel);
    picture.Made = !picture.Image.isNull();
    return picture;
}

// ---------------------------------------------------------------------------------------------

TReadAhead::TReadAhead(TDecoder decoder)
    : FDecoder(decoder ? std::move(decoder) : TDecoder(DecodeScreenRequest)),
      FThread([this] { Run(); }) {}

TReadAhead::~TReadAhead() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
        FWanted.clear();
        if (FCancel)
            FCancel->store(true);
        if (FTask)
            FTask->Kill();
    }
    FWake.notify_all();
    FThread.join();
}

bool TReadAhead::IsWanted(const TScreenRequest &request) const {
    return (FShown && *FShown == request) ||
           std::find(FWanted.begin(), FWanted.end(), request) != FWanted.end();
}

void TReadAhead::Trim() {
    std::erase_if(FHeld, [&](const TEntry &e) { return !IsWanted(e.Request); });
    // Within the bound, the least wanted go first; the one shown stays.
    while (int(FHeld.size()) > MaxHeld) {
        auto last = FHeld.end();
        for (auto it = FHeld.begin(); it != FHeld.end(); ++it) {
            if (FShown && it->Request == *FShown)
                continue;
            const auto rank = [&](const TEntry &e) {
                return std::find(FWanted.begin(), FWanted.end(), e.Request) - FWanted.begin();
            };
            if (last == FHeld.end() || rank(*it) > rank(*last))
                last = it;
        }
        if (last == FHeld.end())
            break;
        FHeld.erase(last);
    }
}

const TScreenRequest *TReadAhead::NextJob() const {
    for (const TScreenRequest &request : FWanted)
        if (std::none_of(FHeld.begin(), FHeld.end(),
                         [&](const TEntry &e) { return e.Request == request; }))
            return &request;
    return nullptr;
}

void TReadAhead::Want(const std::vector<TScreenRequest> &wanted,
                      const std::optional<TScreenRequest> &shown) {
    {
        std::lock_guard lock(FLock);
        FWanted = wanted;
        FShown = shown;
        if (FRunning && !IsWanted(*FRunning)) {
            FCancel->store(true);
            FTask->Kill();
        }
        Trim();
    }
    FWake.notify_all();
}

void TReadAhead::Clear() {
    Want({}, std::nullopt);
}

std::optional<TScreenPicture> TReadAhead::Ready(const TScreenRequest &request) {
    std::string identity;
    TScreenPicture picture;
    {
        std::lock_guard lock(FLock);
        const auto it = std::find_if(FHeld.begin(), FHeld.end(),
                                     [&](const TEntry &e) { return e.Request == request; });
        if (it == FHeld.end() || !it->Picture.Made)
            return std::nullopt;
        identity = it->Identity;
        picture = it->Picture;
    }
    // Deleted, renamed away or replaced since: that picture is not this file's.
    if (identity.empty() || ScreenFileIdentity(request.Path) != identity) {
        std::lock_guard lock(FLock);
        std::erase_if(FHeld, [&](const TEntry &e) { return e.Request == request; });
        return std::nullopt;
    }
    return picture;
}

bool TReadAhead::Running(const TScreenRequest &request) const {
    std::lock_guard lock(FLock);
    return FRunning && *FRunning == request;
}

int TReadAhead::Held() const {
    std::lock_guard lock(FLock);
    return int(FHeld.size());
}

std::size_t TReadAhead::HeldBytes() const {
    std::lock_guard lock(FLock);
    std::size_t bytes = 0;
    for (const TEntry &e : FHeld)
        bytes += e.Picture.Bytes();
    return bytes;
}

int TReadAhead::Cancelled() const {
    std::lock_guard lock(FLock);
    return FCancelled;
}

void TReadAhead::Run() {
    // The shell's objects live in an apartment per thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::unique_lock lock(FLock);
    for (;;) {
        FWake.wait(lock, [&] { return FStop || NextJob() != nullptr; });
        if (FStop)
            break;
        const TScreenRequest request = *NextJob();
        FRunning = request;
        FCancel = std::make_shared<std::atomic<bool>>(false);
        FTask = std::make_shared<TRunnableTaskSlot>();
        const std::shared_ptr<std::atomic<bool>> cancel = FCancel;
        const std::shared_ptr<TRunnableTaskSlot> task = FTask;
        lock.unlock();

        // Taken before the decode: a file replaced while it is decoded is then another one.
        TEntry entry{request, ScreenFileIdentity(request.Path), {}};
        try {
            entry.Picture = FDecoder(request, *cancel, *task);
        } catch (...) {
            // A picture that cannot be made is made again, with its error, when it is opened.
            entry.Picture = {};
        }
        task->Clear();

        lock.lock();
        FRunning.reset();
        if (cancel->load() || !IsWanted(request)) {
            ++FCancelled;
        } else {
            FHeld.push_back(std::move(entry));
            Trim();
        }
        if (OnDecoded) {
            lock.unlock();
            OnDecoded();
            lock.lock();
        }
    }
    lock.unlock();
    CoUninitialize();
}
