#include "ExifThumbnail.h"

#include <cstring>
#include <vector>

#include "FileRead.h"
#include "JpegMarkers.h"

namespace {

// The thumbnail a TIFF structure (the payload of the Exif segment after its "Exif\0\0")
// points at from its second IFD.
QByteArray FromTiff(const std::uint8_t *t, std::size_t size) {
    if (size < 8)
        return {};
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M'))
        return {};
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    auto nextIfd = [&](std::size_t ifd) -> std::size_t {
        if (ifd + 2 > size)
            return 0;
        const std::size_t after = ifd + 2 + 12 * std::size_t(u16(ifd));
        return after + 4 <= size ? u32(after) : 0;
    };
    const std::size_t ifd0 = u32(4);
    const std::size_t ifd1 = ifd0 ? nextIfd(ifd0) : 0;
    if (!ifd1 || ifd1 + 2 > size)
        return {};
    std::size_t offset = 0, bytes = 0;
    const std::size_t count = u16(ifd1);
    for (std::size_t k = 0; k < count && ifd1 + 2 + 12 * (k + 1) <= size; ++k) {
        const std::size_t e = ifd1 + 2 + 12 * k;
        if (u16(e) == 0x0201)
            offset = u32(e + 8);
        else if (u16(e) == 0x0202)
            bytes = u32(e + 8);
    }
    if (offset == 0 || bytes < 4 || offset > size || bytes > size - offset)
        return {};
    return QByteArray(reinterpret_cast<const char *>(t + offset), qsizetype(bytes));
}

} // namespace

QByteArray ExifThumbnail(const std::uint8_t *b, std::size_t n) {
    QByteArray thumbnail;
    WalkJpegHeader(b, n, [&](const JpegSegment &segment) {
        if (segment.marker != 0xE1 || segment.size < 6 + 8 ||
            std::memcmp(segment.data, "Exif\0\0", 6) != 0)
            return false;
        thumbnail = FromTiff(segment.data + 6, segment.size - 6);
        return true; // only the first Exif block counts
    });
    return thumbnail;
}

QByteArray ExifThumbnailOfFile(int fd) {
    std::vector<std::uint8_t> head;
    if (ReadFileBytes(fd, 128 * 1024, head) != 0)
        return {};
    return ExifThumbnail(head.data(), head.size());
}
