#include "ZoomImage.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

TZoomImage::TZoomImage(QWidget *parent) : QWidget(parent) {
    // What the picture does not cover shows the parent, as the fitted picture does.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
}

void TZoomImage::SetPicture(const QImage &picture, const TZoomView &zoom) {
    FPicture = picture;
    FZoom = zoom;
    update();
}

QSize TZoomImage::DeviceSize() const {
    return (QSizeF(size()) * devicePixelRatioF()).toSize();
}

void TZoomImage::paintEvent(QPaintEvent *) {
    if (FPicture.isNull() || FZoom.Scale <= 0)
        return;
    const QSize view = DeviceSize();
    const QPoint origin = zoom::Origin(view, FPicture.size(), FZoom);
    const QRect whole(origin, QSize(int(std::ceil(FPicture.width() * FZoom.Scale)),
                                    int(std::ceil(FPicture.height() * FZoom.Scale))));
    const QRect visible = whole.intersected(QRect(QPoint(0, 0), view));
    if (visible.isEmpty())
        return;
    const bool same = FDrawnKey == FPicture.cacheKey() && FDrawnView == view &&
                      FDrawnScale == FZoom.Scale && FDrawnOrigin == origin &&
                      FDrawn.size() == visible.size();
    if (!same) {
        const QImage source = FPicture.convertToFormat(QImage::Format_RGB32);
        // Nearest picture pixel of each device pixel; the small bias keeps exact multiples
        // (a third of a pixel times three) on their own pixel.
        auto sourceIndex = [&](int device, int corner, int limit) {
            const int i = int(std::floor((device - corner) / FZoom.Scale + 1e-9));
            return std::clamp(i, 0, limit - 1);
        };
        std::vector<int> columns(visible.width());
        for (int x = 0; x < visible.width(); ++x)
            columns[x] = sourceIndex(visible.left() + x, origin.x(), source.width());
        QImage drawn(visible.size(), QImage::Format_RGB32);
        for (int y = 0; y < visible.height(); ++y) {
            const auto *from = reinterpret_cast<const QRgb *>(
                source.constScanLine(sourceIndex(visible.top() + y, origin.y(), source.height())));
            auto *to = reinterpret_cast<QRgb *>(drawn.scanLine(y));
            for (int x = 0; x < visible.width(); ++x)
                to[x] = from[columns[x]] | 0xFF000000u;
        }
        FDrawn = std::move(drawn);
        FDrawnAt = visible.topLeft();
        FDrawnKey = FPicture.cacheKey();
        FDrawnScale = FZoom.Scale;
        FDrawnOrigin = origin;
        FDrawnView = view;
    }
    const qreal ratio = devicePixelRatioF();
    FDrawn.setDevicePixelRatio(ratio);
    QPainter painter(this);
    painter.drawImage(QPointF(FDrawnAt) / ratio, FDrawn);
}
