#include "PictureFit.h"

#include <QPainter>

#include <algorithm>

QSize FitSize(QSize picture, QSize box, bool cover) {
    const double sx = double(box.width()) / picture.width();
    const double sy = double(box.height()) / picture.height();
    double s = cover ? std::max(sx, sy) : std::min(sx, sy);
    if (s >= 1.0)
        return picture;
    return QSize(std::max(1, int(picture.width() * s + 0.5)),
                 std::max(1, int(picture.height() * s + 0.5)));
}

namespace {

QImage Flattened(const QImage &image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

} // namespace

QImage Boxed(const QImage &image, QSize box, bool cover) {
    QImage out = image;
    const QSize size = FitSize(image.size(), box, cover);
    if (size != image.size())
        out = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (cover && (out.width() > box.width() || out.height() > box.height())) {
        const int w = std::min(out.width(), box.width());
        const int h = std::min(out.height(), box.height());
        out = out.copy((out.width() - w) / 2, (out.height() - h) / 2, w, h);
    }
    return Flattened(out);
}

QImage WithDepth(const QImage &image, DWORD depth) {
    if (depth == 0 || depth >= 24)
        return image;
    QImage reduced;
    if (depth <= 4) {
        static const QList<QRgb> vga = {
            qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
        reduced = image.convertToFormat(QImage::Format_Indexed8, vga, Qt::ThresholdDither);
    } else if (depth <= 8) {
        reduced = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    } else {
        reduced = image.convertToFormat(QImage::Format_RGB16);
    }
    return reduced.convertToFormat(QImage::Format_RGB32);
}
