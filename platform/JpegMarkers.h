// Walks the marker segments of a JPEG header without decoding anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct JpegSegment {
    std::uint8_t marker;      // 0xE1 for APP1, 0xFE for a comment, ...
    const std::uint8_t *data; // the payload, after the length field
    std::size_t size;         // bytes of payload
};

// Calls visit for each segment between SOI and the first scan whose payload lies wholly inside
// the n bytes. Stops at the scan, at the end of the picture, at anything that is not a marker,
// at a segment cut off by the end of the bytes, or when visit returns true; returns true only
// in the last case. Bytes that do not start with SOI have no segments.
bool WalkJpegHeader(const std::uint8_t *b, std::size_t n,
                    const std::function<bool(const JpegSegment &)> &visit);
