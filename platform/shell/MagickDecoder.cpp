#include "MagickDecoder.h"

#include <Magick++.h>

#include <mutex>
#include <vector>

#include "FileRead.h"

namespace {
constexpr std::size_t MaxMetafileBytes = 64 << 20;
}

TDecodeResult DecodeMetafile(int fd, QSize box, bool cover, const std::atomic<bool> &killed,
                             QImage &result) {
    std::vector<std::uint8_t> bytes;
    if (ReadFileBytes(fd, MaxMetafileBytes + 1, bytes) != 0 || bytes.empty() ||
        bytes.size() > MaxMetafileBytes)
        return TDecodeResult::Failed;
    if (killed)
        return TDecodeResult::Killed;
    static std::once_flag magickInit;
    std::call_once(magickInit, [] { Magick::InitializeMagick(nullptr); });
    // Library state is shared; one metafile at a time.
    static std::mutex magickMutex;
    std::lock_guard lock(magickMutex);
    try {
        Magick::Blob blob(bytes.data(), bytes.size());
        Magick::Image image;
        image.magick("WMF");
        image.ping(blob);
        const qint64 pixels = qint64(image.columns()) * qint64(image.rows());
        if (pixels <= 0 || pixels > MaxPicturePixels)
            return TDecodeResult::Failed;
        if (killed)
            return TDecodeResult::Killed;
        image = Magick::Image();
        image.magick("WMF");
        image.read(blob);
        const int w = int(image.columns()), h = int(image.rows());
        if (w <= 0 || h <= 0)
            return TDecodeResult::Failed;
        QImage rendered(w, h, QImage::Format_ARGB32);
        if (rendered.isNull())
            return TDecodeResult::Failed;
        for (int y = 0; y < h; ++y)
            image.write(0, ssize_t(y), std::size_t(w), 1, "BGRA", Magick::CharPixel,
                        rendered.scanLine(y));
        if (killed)
            return TDecodeResult::Killed;
        const QSize target = FitSize(rendered.size(), box, cover);
        result = target == rendered.size()
                     ? rendered
                     : rendered.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return TDecodeResult::Ok;
    } catch (const std::exception &) {
        return TDecodeResult::Failed;
    }
}
