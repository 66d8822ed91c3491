// Slow metafiles made on the fly: a placeable WMF of side x side pixels that fills its whole
// frame again and again with rectangles of alternating colours. A few bytes per rectangle cost
// a renderer side x side pixels each, so a small file takes minutes at full size.
#pragma once

#include <cstdint>
#include <vector>

#include <QColor>

namespace hostile {

// The last rectangle is drawn in the colour LastRectangleColour(rectangles).
std::vector<std::uint8_t> SlowWmf(int side, int rectangles);
QColor LastRectangleColour(int rectangles);

} // namespace hostile
