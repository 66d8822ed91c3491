#include "QtDecoder.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTransform>

#include <cmath>

#include "ExifThumbnail.h"
#include "JpegWork.h"

namespace {

// A file whose reads fail once the extraction is to stop, so a decoder stops at its next read.
class TKillableFile : public QFile {
public:
    explicit TKillableFile(const TStop &stop) : FStop(stop) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (FStop())
            return -1;
        return QFile::readData(data, maxSize);
    }

private:
    const TStop &FStop;
};

// Turns a picture as the reader would for these EXIF orientation flags.
QImage Oriented(const QImage &image, QImageIOHandler::Transformations flags) {
    if (flags == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    QImage out = image.mirrored(flags & QImageIOHandler::TransformationMirror,
                                flags & QImageIOHandler::TransformationFlip);
    if (flags & QImageIOHandler::TransformationRotate90)
        out = out.transformed(QTransform().rotate(90));
    return out;
}

// The camera's own small picture, when it covers target and shows the whole frame (same
// aspect ratio: letterboxed thumbnails of 3:2 sensors are not used). It spares decoding
// megapixels for list-sized thumbnails.
QImage UsableEmbedded(int fd, QSize stored, QSize target) {
    const QByteArray bytes = ExifThumbnailOfFile(fd);
    if (bytes.isEmpty())
        return {};
    QImage thumb;
    if (!thumb.loadFromData(bytes, "jpeg") || thumb.width() < target.width() ||
        thumb.height() < target.height())
        return {};
    const double a = double(stored.width()) / stored.height();
    const double b = double(thumb.width()) / thumb.height();
    if (std::abs(a - b) > 0.015 * a)
        return {};
    return thumb;
}

} // namespace

TDecodeResult DecodeWithQt(int fd, TPictureKind kind, QSize box, bool cover, const TStop &stop,
                           QImage &result) {
    // Qt's reader has no progress monitor: a JPEG's scans x blocks are counted beforehand.
    if (kind == TPictureKind::Jpeg && JpegWorkOfFile(fd) > MaxJpegWork)
        return TDecodeResult::Failed;
    TKillableFile file(stop);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return TDecodeResult::Failed;
    QImageReader reader(&file, QtFormat(kind));
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return stop() ? stop.Reason() : TDecodeResult::Failed;
    if (qint64(stored.width()) * stored.height() > MaxPicturePixels)
        return TDecodeResult::Failed;
    // The box in the stored orientation: the reader turns the picture after scaling it.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize storedBox = turned ? box.transposed() : box;
    const QSize target = FitSize(stored, storedBox, cover);
    QImage image;
    if (kind == TPictureKind::Jpeg && target != stored) {
        const QImage embedded = UsableEmbedded(fd, stored, target);
        if (!embedded.isNull())
            image =
                Oriented(embedded.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         reader.transformation());
    }
    if (image.isNull()) {
        if (target != stored)
            reader.setScaledSize(target); // JPEG: decoded at the smallest DCT scale covering it
        image = reader.read();
    }
    if (stop())
        return stop.Reason();
    if (image.isNull())
        return TDecodeResult::Failed;
    // Thumbnails are sRGB, as the cache wants and the screen expects.
    if (image.colorSpace().isValid()) {
        if (image.colorSpace() != QColorSpace(QColorSpace::SRgb))
            image.convertToColorSpace(QColorSpace::SRgb);
        image.setColorSpace(QColorSpace());
    }
    result = image;
    return TDecodeResult::Ok;
}
