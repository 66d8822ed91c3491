// JPEG files made and read back by the thumbnail tests, with libjpeg directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jpegtest {

struct MakeOptions {
    int components = 3; // 1 greyscale, 3 YCbCr, 4 CMYK (Adobe-inverted)
    int hSample = 2;    // luminance sampling factors: 2x2 is 4:2:0, 2x1 4:2:2, 1x1 4:4:4
    int vSample = 2;
    bool progressive = false;
    int quality = 85;
    int restartRows = 0; // restart markers every this many MCU rows
};

// A picture full of detail (gradients and hashed noise), so that any row or column mix-up shows.
std::vector<std::uint8_t> MakeJpeg(int width, int height, const MakeOptions &options = {});
// The same with a uniform colour (r, g, b).
std::vector<std::uint8_t> MakeFlatJpeg(int width, int height, int r, int g, int b);

struct JpegFacts {
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    int quality = -1; // the libjpeg quality whose luminance table the file uses, -1: none
    std::vector<std::string> comments;
};
JpegFacts ReadFacts(const std::vector<std::uint8_t> &jpeg);

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t> &bytes, std::size_t size);

} // namespace jpegtest
