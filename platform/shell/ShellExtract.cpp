// The IExtractImage the folders hand out for pictures: it answers from the shared thumbnail
// cache when it can, decodes otherwise, and its Kill stops a running extraction.
#include "ShellExtract.h"

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

#include "PictureFit.h"
#include "PictureKind.h"
#include "SandboxedDecode.h"
#include "Services.h"
#include "Text.h"

namespace {

std::atomic<std::int64_t> budgetMs{DefaultExtractionBudgetMs};

class TPictureExtractor final : public TComObject<IExtractImage, IRunnableTask> {
public:
    explicit TPictureExtractor(std::string path) : FPath(std::move(path)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IExtractImage)
            *out = static_cast<IExtractImage *>(this);
        else if (iid == IID_IRunnableTask)
            *out = static_cast<IRunnableTask *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    HRESULT GetLocation(char16_t *pathBuffer, DWORD capacity, DWORD *priority, const SIZE *size,
                        DWORD colorDepth, DWORD *flags) override {
        if (pathBuffer && capacity > 0) {
            const std::u16string name = PathToText(FPath).toStdU16String();
            const std::size_t n = std::min<std::size_t>(name.size(), capacity - 1);
            std::copy_n(name.data(), n, pathBuffer);
            pathBuffer[n] = 0;
        }
        if (priority)
            *priority = 0;
        if (size && size->cx > 0 && size->cy > 0)
            FBox = QSize(size->cx, size->cy);
        FColorDepth = colorDepth;
        const DWORD requested = flags ? *flags : 0;
        FFlags = requested;
        DWORD answer = requested;
        // IEIFLAG_CACHE comes back when this thumbnail will not be kept in the shared cache.
        if (Cacheable())
            answer &= ~IEIFLAG_CACHE;
        else
            answer |= IEIFLAG_CACHE;
        if (flags)
            *flags = answer;
        return (requested & IEIFLAG_ASYNC) ? E_PENDING : S_OK;
    }

    HRESULT Extract(HBITMAP *bitmap) override {
        if (!bitmap)
            return E_POINTER;
        *bitmap = nullptr;
        if (FKilled)
            return E_ABORT;
        FRunning = true;
        try {
            QImage image;
            const HRESULT hr = Produce(image);
            FRunning = false;
            if (FAILED(hr))
                return hr;
            *bitmap = new QImage(WithDepth(image, FColorDepth));
            return S_OK;
        } catch (const std::bad_alloc &) {
            FRunning = false;
            return E_OUTOFMEMORY;
        } catch (...) {
            FRunning = false;
            return E_FAIL;
        }
    }

    // Produces the thumbnail without handing it out: what is left is the cache entry.
    HRESULT Fill() {
        if (FKilled)
            return E_ABORT;
        FRunning = true;
        HRESULT hr = E_FAIL;
        try {
            QImage image;
            hr = Produce(image);
        } catch (const std::bad_alloc &) {
            hr = E_OUTOFMEMORY;
        } catch (...) {
        }
        FRunning = false;
        return hr;
    }

    HRESULT Run() override { return E_NOTIMPL; }
    HRESULT Kill(BOOL) override {
        FKilled = true;
        return S_OK;
    }
    HRESULT Suspend() override { return E_NOTIMPL; }
    HRESULT Resume() override { return E_NOTIMPL; }
    ULONG IsRunning() override {
        if (FRunning)
            return IRTIR_TASK_RUNNING;
        return FKilled ? IRTIR_TASK_FINISHED : IRTIR_TASK_NOT_RUNNING;
    }

private:
    bool Cover() const { return FFlags & IEIFLAG_ORIGSIZE; }
    bool Cacheable() const {
        return FBox.width() <= LargeCacheSize && FBox.height() <= LargeCacheSize &&
               !ThumbnailCacheRoot().empty();
    }

    HRESULT Produce(QImage &out) {
        struct stat st;
        const int fd = OpenRegular(FPath, st);
        if (fd < 0)
            return E_FILE_NOT_FOUND;
        struct FdCloser {
            int fd;
            ~FdCloser() { ::close(fd); }
        } closer{fd};

        const bool cacheable = Cacheable();
        const bool large = FBox.width() > NormalCacheSize || FBox.height() > NormalCacheSize;
        const std::string uri = ThumbnailUri(FPath);
        const time_t mtime = st.st_mtime;
        if (cacheable) {
            QImage cached;
            const bool recompute = FFlags & IEIFLAG_QUALITY;
            if (!recompute &&
                ReadThumbnailEntry(ThumbnailCachePath(FPath, large), uri, mtime, cached)) {
                out = Boxed(cached, FBox, Cover());
                return S_OK;
            }
            // A file that failed before is not tried again until it or the decoders change.
            if (!recompute && HasFailureEntry(FPath, uri, mtime))
                return E_FAIL;
        }

        // Check the content again: the file may have been replaced since it was listed.
        const TPictureKind kind = SniffFile(fd);
        const int side = large ? LargeCacheSize : NormalCacheSize;
        const QSize decodeBox = cacheable ? QSize(side, side) : FBox;
        QImage image;
        TDecodeResult result = TDecodeResult::Failed;
        if (kind != TPictureKind::None) {
            const bool cover = kind != TPictureKind::Wmf && !cacheable && Cover();
            result = DecodeInSandbox(fd, kind, decodeBox, cover, FKilled,
                                     std::chrono::milliseconds(budgetMs.load()), image);
        }
        if (result == TDecodeResult::Killed || FKilled)
            return E_ABORT;
        if (result != TDecodeResult::Ok) {
            // A picture over its time budget counts as broken: the next visit does not wait
            // for it again until the file changes.
            if (cacheable)
                WriteFailureEntry(FPath, uri, mtime);
            return result == TDecodeResult::TimedOut ? E_EXTRACTION_TIMEOUT : E_FAIL;
        }
        if (cacheable) {
            // Boxed from what the entry holds, so that this visit shows what later ones,
            // reading the entry, will: greyscale and palette pictures scale a little
            // differently in their own formats.
            image = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32)
                                            : image.convertToFormat(QImage::Format_RGB32);
            WriteThumbnailEntry(ThumbnailCachePath(FPath, large), image, uri, mtime);
            // A failure that newer decoders overcame is no longer true.
            RemoveFailureEntry(FPath);
        }
        out = Boxed(image, FBox, Cover());
        return S_OK;
    }

    std::string FPath;
    QSize FBox{96, 96};
    DWORD FColorDepth = 32;
    DWORD FFlags = 0;
    std::atomic<bool> FKilled{false};
    std::atomic<bool> FRunning{false};
};

// Fills the cache through an extractor of its own, told the size and flags beforehand.
class TThumbnailPrefetch final : public TComObject<IRunnableTask> {
public:
    explicit TThumbnailPrefetch(ComPtr<TPictureExtractor> extractor)
        : FExtractor(std::move(extractor)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!(iid == IID_IUnknown || iid == IID_IRunnableTask))
            return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IRunnableTask *>(this);
        return S_OK;
    }
    HRESULT Run() override { return FExtractor->Fill(); }
    HRESULT Kill(BOOL wait) override { return FExtractor->Kill(wait); }
    HRESULT Suspend() override { return E_NOTIMPL; }
    HRESULT Resume() override { return E_NOTIMPL; }
    ULONG IsRunning() override { return FExtractor->IsRunning(); }

private:
    ComPtr<TPictureExtractor> FExtractor;
};

} // namespace

void SetExtractionBudget(std::chrono::milliseconds budget) {
    budgetMs = budget.count();
}

// A regular file whose content is a picture kind we read, whatever its name.
static bool IsPictureFile(const std::string &path) {
    struct stat st;
    const int fd = OpenRegular(path, st);
    if (fd < 0)
        return false;
    const TPictureKind kind = SniffFile(fd);
    ::close(fd);
    return kind != TPictureKind::None;
}

HRESULT CreateExtractImage(const std::string &path, void **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (const auto create = CurrentServices().CreateExtractImage)
        return create(path, out);

    if (!IsPictureFile(path))
        return E_NOINTERFACE;
    *out = static_cast<IExtractImage *>(new TPictureExtractor(path));
    return S_OK;
}

HRESULT CreateThumbnailPrefetch(const std::string &path, const SIZE &size, DWORD colorDepth,
                                DWORD flags, void **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const TPlatformServices services = CurrentServices();
    if (services.CreateThumbnailPrefetch)
        return services.CreateThumbnailPrefetch(path, out);
    if (services.CreateExtractImage || (flags & IEIFLAG_QUALITY))
        return E_NOINTERFACE;

    if (!IsPictureFile(path))
        return E_NOINTERFACE;
    ComPtr<TPictureExtractor> extractor(new TPictureExtractor(path));
    DWORD answer = flags;
    extractor->GetLocation(nullptr, 0, nullptr, &size, colorDepth, &answer);
    if (answer & IEIFLAG_CACHE)
        return E_NOINTERFACE;
    *out = static_cast<IRunnableTask *>(new TThumbnailPrefetch(std::move(extractor)));
    return S_OK;
}
