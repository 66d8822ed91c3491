// Where a zoomed picture sits: steps, zooming about a point, panning to the edges, and the spot
// a quarter turn keeps. Expected corners are worked out by hand from the picture's pixels.
#include <gtest/gtest.h>

#include "ZoomGeometry.h"

namespace {

const QSize View(400, 300);
const QSize Picture(1000, 800);

TEST(ZoomGeometry, StepsGoToTheNextStepAndStopAtTheEnds) {
    const struct {
        double From;
        int Direction;
        double To;
    } rows[] = {
        {1, +1, 1.5}, {1, -1, 2.0 / 3},         {0.3, +1, 1.0 / 3},        {0.3, -1, 0.25},
        {16, +1, 16}, {1.0 / 16, -1, 1.0 / 16}, {1.0 / 3 + 1e-9, +1, 0.5}, // on a step, not past it
    };
    for (const auto &row : rows)
        EXPECT_DOUBLE_EQ(zoom::NextStep(row.From, row.Direction), row.To)
            << row.From << " " << row.Direction;
}

TEST(ZoomGeometry, CornerStaysOnWholeDevicePixelsAndInsideTheEdges) {
    const struct {
        const char *Name;
        QSize Picture;
        TZoomView Zoom;
        QPoint Corner;
    } rows[] = {
        // Centred: the picture's middle pixel (500, 400) at the view's middle (200, 150).
        {"middle", Picture, {1, {0.5, 0.5}}, {-300, -250}},
        {"left edge", Picture, {1, {0, 0}}, {0, 0}},
        {"right edge", Picture, {1, {1, 1}}, {-600, -500}},
        // Smaller than the view along both axes: centred, wherever it was moved.
        {"small", QSize(200, 100), {1, {0.9, 0.1}}, {100, 100}},
        // A third of 1000 is 333.3: its corner rounds to a whole pixel.
        {"third", Picture, {1.0 / 3, {0.5, 0.5}}, {33, 17}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(zoom::Origin(View, row.Picture, row.Zoom), row.Corner) << row.Name;
}

TEST(ZoomGeometry, ZoomingAboutAPointKeepsThePicturePixelUnderIt) {
    // At 100 % centred, view point (100, 100) shows picture pixel (400, 350); at 200 % that pixel
    // starts at 100 - 2 * 400, 100 - 2 * 350.
    const TZoomView in = zoom::ZoomAbout(View, Picture, {1, {0.5, 0.5}}, 2, QPointF(100, 100));
    EXPECT_EQ(zoom::Origin(View, Picture, in), QPoint(-700, -600));
    // Back out to 100 % about the same point: the first view again.
    const TZoomView out = zoom::ZoomAbout(View, Picture, in, 1, QPointF(100, 100));
    EXPECT_EQ(zoom::Origin(View, Picture, out), QPoint(-300, -250));
}

TEST(ZoomGeometry, PanningMovesByDevicePixelsAndStopsAtTheEdge) {
    const TZoomView start{2, {0.5, 0.5}}; // corner (200 - 1000, 150 - 800)
    EXPECT_EQ(zoom::Origin(View, Picture, zoom::Panned(View, Picture, start, QPointF(30, -20))),
              QPoint(-830, -630));
    EXPECT_EQ(zoom::Origin(View, Picture, zoom::Panned(View, Picture, start, QPointF(1e6, 1e6))),
              QPoint(400 - 2000, 300 - 1600));
}

TEST(ZoomGeometry, AQuarterTurnKeepsTheSpotInTheMiddle) {
    // A spot near the top-right corner: turned counter-clockwise that corner is the top-left
    // one, turned clockwise the bottom-right one.
    const QPointF spot(0.75, 0.2);
    const QPointF ccw = zoom::TurnedCentre(spot, true);
    const QPointF cw = zoom::TurnedCentre(spot, false);
    EXPECT_DOUBLE_EQ(ccw.x(), 0.2);
    EXPECT_DOUBLE_EQ(ccw.y(), 0.25);
    EXPECT_DOUBLE_EQ(cw.x(), 0.8);
    EXPECT_DOUBLE_EQ(cw.y(), 0.75);
}

} // namespace
