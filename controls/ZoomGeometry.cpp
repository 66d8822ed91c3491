#include "ZoomGeometry.h"

#include <algorithm>
#include <cmath>

namespace zoom {

namespace {

constexpr double Steps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3,
                            1.0 / 2,  2.0 / 3,  1,       1.5,     2,       3,
                            4,        6,        8,       12,      16};

// A scale read back from a fit or a wheel is rarely exactly a step; this close counts as on it.
constexpr double Tolerance = 1e-6;

double ClampAxis(int view, int picture, double scale, double centre) {
    const double extent = picture * scale;
    if (extent <= view)
        return 0.5;
    const double half = view / (2 * extent);
    return std::clamp(centre, half, 1 - half);
}

// The corner before rounding: the centre's point of the picture at the middle of the view.
double CornerAxis(int view, int picture, double scale, double centre) {
    return view / 2.0 - centre * picture * scale;
}

} // namespace

double NextStep(double scale, int direction) {
    if (direction > 0) {
        for (double step : Steps)
            if (step > scale * (1 + Tolerance))
                return step;
        return MaxScale;
    }
    for (auto it = std::rbegin(Steps); it != std::rend(Steps); ++it)
        if (*it < scale * (1 - Tolerance))
            return *it;
    return MinScale;
}

QPointF ClampCentre(QSize view, QSize picture, double scale, QPointF centre) {
    return QPointF(ClampAxis(view.width(), picture.width(), scale, centre.x()),
                   ClampAxis(view.height(), picture.height(), scale, centre.y()));
}

QPoint Origin(QSize view, QSize picture, const TZoomView &zoom) {
    const QPointF c = ClampCentre(view, picture, zoom.Scale, zoom.Centre);
    return QPoint(
        int(std::floor(CornerAxis(view.width(), picture.width(), zoom.Scale, c.x()) + 0.5)),
        int(std::floor(CornerAxis(view.height(), picture.height(), zoom.Scale, c.y()) + 0.5)));
}

bool Overflows(QSize view, QSize picture, double scale, Qt::Orientation orientation) {
    return orientation == Qt::Horizontal ? picture.width() * scale > view.width()
                                         : picture.height() * scale > view.height();
}

TZoomView ZoomAbout(QSize view, QSize picture, const TZoomView &zoom, double newScale,
                    QPointF point) {
    if (picture.isEmpty())
        return {newScale, zoom.Centre};
    const QPointF c = ClampCentre(view, picture, zoom.Scale, zoom.Centre);
    const double w = picture.width(), h = picture.height();
    // The share of the picture under the point, before and after.
    const double fx = (point.x() - CornerAxis(view.width(), picture.width(), zoom.Scale, c.x())) /
                      (w * zoom.Scale);
    const double fy = (point.y() - CornerAxis(view.height(), picture.height(), zoom.Scale, c.y())) /
                      (h * zoom.Scale);
    const QPointF centre(fx + (view.width() / 2.0 - point.x()) / (w * newScale),
                         fy + (view.height() / 2.0 - point.y()) / (h * newScale));
    return {newScale, ClampCentre(view, picture, newScale, centre)};
}

TZoomView Panned(QSize view, QSize picture, const TZoomView &zoom, QPointF delta) {
    if (picture.isEmpty())
        return zoom;
    const QPointF c = ClampCentre(view, picture, zoom.Scale, zoom.Centre);
    const QPointF moved(c.x() + delta.x() / (picture.width() * zoom.Scale),
                        c.y() + delta.y() / (picture.height() * zoom.Scale));
    return {zoom.Scale, ClampCentre(view, picture, zoom.Scale, moved)};
}

QPointF TurnedCentre(QPointF centre, bool counterClockwise) {
    // Counter-clockwise the top-right corner becomes the top-left one.
    return counterClockwise ? QPointF(centre.y(), 1 - centre.x())
                            : QPointF(1 - centre.y(), centre.x());
}

} // namespace zoom
