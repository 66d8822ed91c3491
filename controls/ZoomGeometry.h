// Where a zoomed picture sits in a view: the arithmetic of zoom steps, zooming about a point,
// panning and quarter turns, in device pixels so that 100 % is one picture pixel per device
// pixel whatever the screen's scale.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>

// A zoomed view: Scale device pixels per picture pixel, and the point of the picture shown at
// the middle of the view, as a share of the picture's width and height (so a burst of pictures
// of one size shows the same spot of each).
struct TZoomView {
    double Scale = 1;
    QPointF Centre{0.5, 0.5};
};

namespace zoom {

// The steps of + and -; 1 is 100 %.
constexpr double MinScale = 1.0 / 16;
constexpr double MaxScale = 16;

// The next step above (direction > 0) or below the scale, stopping at the ends.
double NextStep(double scale, int direction);

// The centre moved so that no part of the view outside the picture shows along an axis where
// the picture is larger than the view; along an axis where it is not, the picture is centred.
QPointF ClampCentre(QSize view, QSize picture, double scale, QPointF centre);

// The picture's top-left corner in the view, on whole device pixels: a picture shown at 100 %
// maps each of its pixels onto exactly one device pixel.
QPoint Origin(QSize view, QSize picture, const TZoomView &zoom);

// True when the picture is wider (horizontal) or taller than the view.
bool Overflows(QSize view, QSize picture, double scale, Qt::Orientation orientation);

// The view after zooming to newScale while the picture point under point (device pixels in the
// view) stays where it is.
TZoomView ZoomAbout(QSize view, QSize picture, const TZoomView &zoom, double newScale,
                    QPointF point);

// The view moved over the picture by delta device pixels (positive: towards the picture's
// right and bottom).
TZoomView Panned(QSize view, QSize picture, const TZoomView &zoom, QPointF delta);

// The centre after the picture is turned a quarter, counter-clockwise or clockwise: the same
// spot of the picture stays in the middle.
QPointF TurnedCentre(QPointF centre, bool counterClockwise);

} // namespace zoom
