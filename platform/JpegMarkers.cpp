#include "JpegMarkers.h"

bool WalkJpegHeader(const std::uint8_t *b, std::size_t n,
                    const std::function<bool(const JpegSegment &)> &visit) {
    if (n < 2 || b[0] != 0xFF || b[1] != 0xD8)
        return false;
    std::size_t pos = 2;
    while (pos + 4 <= n) {
        if (b[pos] != 0xFF)
            return false;
        const std::uint8_t marker = b[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // image data: the header is over
            return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            pos += 2;
            continue;
        }
        const std::size_t length = std::size_t(b[pos + 2]) << 8 | b[pos + 3];
        if (length < 2 || length > n - pos - 2)
            return false;
        if (visit(JpegSegment{marker, b + pos + 4, length - 2}))
            return true;
        pos += 2 + length;
    }
    return false;
}
