// libjpeg (IJG version-6 API) behind an error manager: failures become EJPEG "JPEG error #%d".
#pragma once

#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FileRead.h"

struct JpegHeaderInfo {
    int width = 0;
    int height = 0;
    int components = 0;
    int colorSpace = 0;       // libjpeg's J_COLOR_SPACE of the file
    bool progressive = false; // the file has several scans
};

// Reads the header of an in-memory JPEG file. Raises EJPEG.
JpegHeaderInfo ReadJpegHeader(const std::uint8_t *data, std::size_t size);

// Decodes an in-memory JPEG file at full size into a Format_RGB32 image, converting greyscale,
// CMYK and YCCK to RGB. Raises EJPEG; refuses pictures above MaxJpegPixels. A scaleDenom of 2,
// 4 or 8 decodes at that fraction of the size (rounded up) through libjpeg's DCT scaling, far
// faster for a picture that is shown smaller; other values decode at full size. Raising cancel
// from another thread stops the decode within a row: it raises EJPEG JpegCancelledMessage.
QImage DecodeJpeg(const std::uint8_t *data, std::size_t size, int scaleDenom = 1,
                  const std::atomic<bool> *cancel = nullptr);
inline constexpr char JpegCancelledMessage[] = "The decoding was cancelled";

// True when the in-memory JPEG file is whole: it ends with its end-of-image marker and decodes
// without an error or a warning of corrupt data. Never raises.
bool JpegIsWhole(const std::uint8_t *data, std::size_t size);

// One CMYK pixel as RGB. Adobe programs store the inks inverted and mark such files with their
// APP14 marker.
inline void CmykToRgb(const std::uint8_t *cmyk, bool adobeInverted, std::uint8_t *rgb) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!adobeInverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    rgb[0] = std::uint8_t(c * k / 255);
    rgb[1] = std::uint8_t(m * k / 255);
    rgb[2] = std::uint8_t(y * k / 255);
}

constexpr std::int64_t MaxJpegPixels = 400'000'000; // well above any camera; refuses bombs
