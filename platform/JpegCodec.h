// libjpeg (IJG version-6 API) behind an error manager: failures become EJPEG "JPEG error #%d".
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// CMYK and YCCK to RGB. Raises EJPEG; refuses pictures above MaxJpegPixels.
QImage DecodeJpeg(const std::uint8_t *data, std::size_t size);

// Reads a whole file into memory. Raises EFOpenError "Cannot open file "%s". %s".
std::vector<std::uint8_t> ReadWholeFile(const std::string &path);

constexpr std::int64_t MaxJpegPixels = 400'000'000; // well above any camera; refuses bombs
