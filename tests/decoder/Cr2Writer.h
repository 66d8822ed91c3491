// Builds small but valid Canon CR2 files around a given JPEG preview: a TIFF header with the
// "CR" signature, IFD0 with Make, Model, Orientation and the preview as its strip, and a raw IFD
// whose strip starts with a lossless-JPEG header (no real sensor data follows it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cr2 {

using Bytes = std::vector<std::uint8_t>;

struct Cr2Options {
    Bytes PreviewJpeg;   // the IFD0 strip, stored as given
    int Orientation = 1; // the EXIF orientation, 1 to 8
    std::string Make = "Canon";
    std::string Model = "Canon EOS 20D";
    int RawWidth = 3504; // sensor size announced by the lossless-JPEG header
    int RawHeight = 2336;
    int RawDataBytes = 4096; // bytes of (dummy) compressed data after the header
    // The preview strip's byte count as IFD0 states it; 0 states the preview's real size. A
    // larger claim makes a hostile file, to be made whole with a sparse tail.
    std::uint32_t PreviewLengthClaim = 0;
};

// The CR2 file's bytes. The preview's size is read from its JPEG header.
Bytes BuildCr2(const Cr2Options &options);
void WriteCr2(const std::string &path, const Cr2Options &options);

// An RGB picture, 3 bytes per pixel, rows top-down.
struct Rgb {
    int Width = 0;
    int Height = 0;
    Bytes Data;
};

// A picture whose four quarters have distinct colours (top-left red, top-right green,
// bottom-left blue, bottom-right white), so that any turn or mirror can be told apart.
Rgb QuarterPicture(int width, int height);
Bytes EncodeJpeg(const Rgb &picture, int quality = 90);
Rgb DecodeJpeg(const Bytes &jpeg); // throws std::runtime_error
// Width and height from a JPEG header; throws std::runtime_error.
void JpegSize(const Bytes &jpeg, int &width, int &height);
// A real photograph scaled (smoothly) to width x height and encoded again.
Bytes ScaledJpeg(const std::string &photoPath, int width, int height, int quality = 90);
// Four real photographs, each cropped to fill a quarter and scaled down into it, encoded as
// one width x height JPEG: a large picture with a camera's detail, where a small photograph
// blown up would be smoother than any camera's and decode faster. The list starts at
// photos[first % size], so that files made in turn differ.
Bytes MosaicJpeg(const std::vector<std::string> &photos, std::size_t first, int width, int height,
                 int quality = 90);

} // namespace cr2
