// A picture shown at a zoom of its own: each device pixel of the view is sampled from the
// nearest picture pixel, so 100 % shows every pixel as it is. Only the part in view is drawn.
#pragma once

#include <QImage>
#include <QWidget>

#include "ZoomGeometry.h"

class TZoomImage : public QWidget {
    Q_OBJECT
public:
    explicit TZoomImage(QWidget *parent = nullptr);

    // The picture (already turned as it is to be seen) and where it sits. Every pixel is drawn
    // opaque: the zoom is for looking at pixels, so no colour is keyed out.
    void SetPicture(const QImage &picture, const TZoomView &zoom);
    const QImage &Picture() const { return FPicture; }
    const TZoomView &Zoom() const { return FZoom; }

    // The view's size in device pixels.
    QSize DeviceSize() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage FPicture;
    TZoomView FZoom;
    // The drawn part, reused while nothing that places it changes (a paint after an expose).
    QImage FDrawn;
    QPoint FDrawnAt;
    qint64 FDrawnKey = 0;
    double FDrawnScale = 0;
    QPoint FDrawnOrigin;
    QSize FDrawnView;
};
