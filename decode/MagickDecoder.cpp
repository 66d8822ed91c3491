#include "MagickDecoder.h"

#include <Magick++.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "FileRead.h"

namespace {

constexpr std::size_t MaxMetafileBytes = 64 << 20;

// Magick++'s progress monitor: called between the drawing steps of a render; answering false
// makes the library stop drawing (it still returns the unfinished picture).
MagickCore::MagickBooleanType MetafileProgress(const char *, const MagickCore::MagickOffsetType,
                                               const MagickCore::MagickSizeType, void *data) {
    auto *stop = static_cast<const TStop *>(data);
    return (*stop)() ? MagickCore::MagickFalse : MagickCore::MagickTrue;
}

} // namespace

TDecodeResult DecodeMetafile(int fd, QSize box, bool cover, const TStop &stop, QImage &result) {
    std::vector<std::uint8_t> bytes;
    if (ReadFileBytes(fd, MaxMetafileBytes + 1, bytes) != 0 || bytes.empty() ||
        bytes.size() > MaxMetafileBytes)
        return TDecodeResult::Failed;
    if (stop())
        return stop.Reason();
    static std::once_flag magickInit;
    std::call_once(magickInit, [] {
        Magick::InitializeMagick(nullptr);
        // Refused before any pixel is allocated. (The library's time limit counts from its
        // first use in the process and ends the process when reached: the budget is ours.)
        MagickCore::SetMagickResourceLimit(MagickCore::WidthResource, 65535);
        MagickCore::SetMagickResourceLimit(MagickCore::HeightResource, 65535);
        MagickCore::SetMagickResourceLimit(MagickCore::AreaResource,
                                           MagickCore::MagickSizeType(MaxPicturePixels));
    });
    // Library state is shared; one metafile at a time. A wait for another thread's render is
    // itself stoppable.
    static std::timed_mutex magickMutex;
    std::unique_lock lock(magickMutex, std::defer_lock);
    while (!lock.try_lock_for(std::chrono::milliseconds(20)))
        if (stop())
            return stop.Reason();
    try {
        Magick::Blob blob(bytes.data(), bytes.size());
        Magick::Image image;
        image.magick("WMF");
        image.ping(blob);
        const qint64 pixels = qint64(image.columns()) * qint64(image.rows());
        if (pixels <= 0 || pixels > MaxPicturePixels)
            return TDecodeResult::Failed;
        if (stop())
            return stop.Reason();
        // Drawn no larger than the box needs: a metafile's cost grows with the pixels it
        // fills, and a large one shown as a thumbnail would fill millions for nothing.
        const QSize natural(int(image.columns()), int(image.rows()));
        const QSize wanted = FitSize(natural, box, cover);
        const double scale = std::min(1.0, double(wanted.width()) / natural.width());
        image = Magick::Image();
        image.magick("WMF");
        if (scale < 1.0) {
            char density[64];
            std::snprintf(density, sizeof density, "%.4fx%.4f", 72.0 * scale, 72.0 * scale);
            MagickCore::CloneString(&image.imageInfo()->density, density);
        }
        MagickCore::SetImageInfoProgressMonitor(image.imageInfo(), MetafileProgress,
                                                const_cast<TStop *>(&stop));
        image.read(blob);
        if (stop())
            return stop.Reason();
        const int w = int(image.columns()), h = int(image.rows());
        if (w <= 0 || h <= 0)
            return TDecodeResult::Failed;
        QImage rendered(w, h, QImage::Format_ARGB32);
        if (rendered.isNull())
            return TDecodeResult::Failed;
        for (int y = 0; y < h; ++y)
            image.write(0, ssize_t(y), std::size_t(w), 1, "BGRA", Magick::CharPixel,
                        rendered.scanLine(y));
        if (stop())
            return stop.Reason();
        const QSize target = FitSize(rendered.size(), box, cover);
        result = target == rendered.size()
                     ? rendered
                     : rendered.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return TDecodeResult::Ok;
    } catch (const std::exception &) {
        return stop() ? stop.Reason() : TDecodeResult::Failed;
    }
}
