// Hostile JPEG files made on the fly: a valid progressive picture followed by many scans that
// code nothing. Each such scan costs the decoder a pass over every block of the picture while
// the file grows by a few bytes, the shape of a decompression-time bomb.
#pragma once

#include <cstdint>
#include <vector>

namespace hostile {

// A greyscale progressive JPEG of width x height (a gradient) with `emptyScans` extra AC scans
// whose blocks all end at once (end-of-band runs), before the end marker.
std::vector<std::uint8_t> ManyScanJpeg(int width, int height, int emptyScans);

} // namespace hostile
