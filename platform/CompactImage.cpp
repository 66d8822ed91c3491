#include "CompactImage.h"

#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Quality 95 with every chroma sample kept: no difference the eye finds in a 120 x 120
// photo, at about 8 to 10 KB instead of 57.
constexpr int JpegQuality = 95;
// A picture of at most this many colours is a drawing or a fill, which deflate keeps small
// without loss and JPEG would blur at its edges.
constexpr int LosslessColors = 256;
constexpr int MaxJpegSide = 65500;

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr TJPF PackFormat = TJPF_BGRX;   // Format_RGB32 / ARGB32 in memory
constexpr TJPF UnpackFormat = TJPF_BGRA; // fills the fourth byte with 0xFF, as RGB32 wants
#else
constexpr TJPF PackFormat = TJPF_XRGB;
constexpr TJPF UnpackFormat = TJPF_ARGB;
#endif

struct TjDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// One compressor and one decompressor per thread, made on first use.
tjhandle Compressor() {
    thread_local TjHandle handle(tjInitCompress());
    return handle.get();
}

tjhandle Decompressor() {
    thread_local TjHandle handle(tjInitDecompress());
    return handle.get();
}

bool HasTransparency(const QImage &argb) {
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return true;
    }
    return false;
}

QByteArray PackJpeg(const QImage &argb) {
    if (argb.width() > MaxJpegSide || argb.height() > MaxJpegSide)
        return {};
    tjhandle tj = Compressor();
    if (!tj)
        return {};
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int rc =
        tjCompress2(tj, argb.constBits(), argb.width(), int(argb.bytesPerLine()), argb.height(),
                    PackFormat, &out, &size, TJSAMP_444, JpegQuality, TJFLAG_ACCURATEDCT);
    QByteArray bytes;
    if (rc == 0)
        bytes = QByteArray(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    return bytes;
}

// Whether argb has more than maxColors distinct colours; stops counting once past.
bool HasManyColors(const QImage &argb, int maxColors) {
    // Open addressing over a table twice the bound, so it never fills.
    const std::size_t tableSize = 2 * std::size_t(maxColors) + 2;
    std::vector<QRgb> keys(tableSize);
    std::vector<char> used(tableSize);
    int colors = 0;
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = line[x];
            std::size_t slot = (c * 2654435761u) % tableSize;
            while (used[slot] && keys[slot] != c)
                slot = (slot + 1) % tableSize;
            if (used[slot])
                continue;
            if (++colors > maxColors)
                return true;
            used[slot] = 1;
            keys[slot] = c;
        }
    }
    return false;
}

} // namespace

TCompactImage::TCompactImage(const QImage &image) {
    if (image.isNull())
        return;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    FWidth = argb.width();
    FHeight = argb.height();
    if (!HasTransparency(argb) && HasManyColors(argb, LosslessColors)) {
        FData = PackJpeg(argb);
        if (!FData.isEmpty()) {
            FKind = TKind::Jpeg;
            return;
        }
    }
    // ARGB32 rows have no padding, so the pixels are one run of bytes.
    FData = qCompress(argb.constBits(), argb.sizeInBytes());
    FKind = FData.isEmpty() ? TKind::Empty : TKind::Deflate;
    FData.squeeze();
}

QImage TCompactImage::ToImage() const {
    switch (FKind) {
    case TKind::Empty:
        break;
    case TKind::Jpeg: {
        QImage image(FWidth, FHeight, QImage::Format_RGB32);
        tjhandle tj = Decompressor();
        if (image.isNull() || !tj ||
            tjDecompress2(tj, reinterpret_cast<const unsigned char *>(FData.constData()),
                          static_cast<unsigned long>(FData.size()), image.bits(), FWidth,
                          int(image.bytesPerLine()), FHeight, UnpackFormat,
                          TJFLAG_ACCURATEDCT) != 0)
            return QImage();
        return image;
    }
    case TKind::Deflate: {
        const QByteArray raw = qUncompress(FData);
        QImage image(FWidth, FHeight, QImage::Format_ARGB32);
        if (image.isNull() || raw.size() != image.sizeInBytes())
            return QImage();
        std::memcpy(image.bits(), raw.constData(), std::size_t(raw.size()));
        return image;
    }
    }
    return QImage();
}
