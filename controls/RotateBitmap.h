// Turning a bitmap by any angle, and the matching mapping of picture points into the turned
// bitmap. Both share one angle convention and one rule for the turned bitmap's centre.
#pragma once

#include <QPoint>

#include <memory>

#include "Graphics.h"
#include "RotateMath.h"

// Turns source by angle degrees (positive: counter-clockwise on the screen) into a new 32-bit
// bitmap large enough for the whole turned picture; uncovered corners get backgroundColor,
// its flag byte included. Nearest-neighbour sampling in 16.16 fixed point, so a quarter turn
// moves pixels exactly. An empty source gives an empty bitmap. Raises EIntOverflow (before
// anything is allocated) when the turned size or the pixel arithmetic leaves 32 bits,
// EInvalidGraphic when the turned size has a zero side (2 x 1 at 1e-6 degrees is 1 x 0),
// EOutOfMemory when the bitmap cannot be made and Exception for an angle that is not a finite
// number. threads = 0 uses every core; the
// result does not depend on it.
std::unique_ptr<TBitmap> RotateBitmap(const TBitmap &source, TColor backgroundColor,
                                      long double angle, int threads = 0);

// Replaces points[0..highIndex] (top-down picture pixels of a pictureWidth x pictureHeight
// picture) by their places in the turned bitmap of rotatedWidth x rotatedHeight that
// RotateBitmap made for angle. A negative highIndex maps nothing.
void MapToRotated(QPoint *points, int highIndex, long double angle, int pictureWidth,
                  int pictureHeight, int rotatedWidth, int rotatedHeight);
