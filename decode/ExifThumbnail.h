// The small JPEG picture cameras store in the EXIF block of their photos.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The JPEG thumbnail of the EXIF block (IFD1) among the header bytes of a JPEG file, or
// nothing. Every offset is checked against the block.
QByteArray ExifThumbnail(const std::uint8_t *b, std::size_t n);

// The same, read from the first 128 KiB of an open JPEG file.
QByteArray ExifThumbnailOfFile(int fd);
