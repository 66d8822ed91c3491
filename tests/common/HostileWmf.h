// Metafiles made on the fly. A slow one: a placeable WMF of side x side pixels that fills its
// whole frame again and again with rectangles of alternating colours. A few bytes per rectangle
// cost a renderer side x side pixels each, so a small file takes minutes at full size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QColor>

namespace hostile {

// The last rectangle is drawn in the colour LastRectangleColour(rectangles).
std::vector<std::uint8_t> SlowWmf(int side, int rectangles);
QColor LastRectangleColour(int rectangles);

// A 400 x 100 white page (with a thin black frame) on which text is written in black, 60 pixels
// high, in the named font face: a renderer without fonts for it fails or leaves the page blank.
std::vector<std::uint8_t> TextWmf(const std::string &face, const std::string &text);

} // namespace hostile
