// Feeds arbitrary bytes to one of the decoders the helper runs, chosen at build time
// (FUZZ_ENTRY): the Qt picture readers, the metafile renderer, the EXIF thumbnail reader, and
// the JPEG thumbnail conversion of a RAW preview. Any crash, sanitizer report, escaping
// exception, hang or runaway allocation is a finding.
#include <QImage>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

#include "ExifThumbnail.h"
#include "JpegConv.h"
#include "MagickDecoder.h"
#include "PictureKind.h"
#include "QtDecoder.h"

#define ENTRY_PICTURE 1
#define ENTRY_METAFILE 2
#define ENTRY_EXIF 3
#define ENTRY_THUMBNAIL 4

namespace {

// The decoders read from a descriptor, as in the helper.
int InMemoryFile(const std::uint8_t *data, std::size_t size) {
    const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (fd >= 0 && ::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0 || size > 16u << 20)
        return 0;
    std::atomic<bool> never{false};
    const TStop stop(never, std::chrono::seconds(2));
    QImage image;
#if FUZZ_ENTRY == ENTRY_EXIF
    ExifThumbnail(data, size);
#elif FUZZ_ENTRY == ENTRY_THUMBNAIL
    try {
        RenderThumbnail(data, size, 150, 100, clWhite);
    } catch (const std::exception &) {
        // A picture that cannot be read raises, as the caller expects.
    }
#else
    const int fd = InMemoryFile(data, size);
    if (fd < 0)
        return 0;
#if FUZZ_ENTRY == ENTRY_PICTURE
    const TPictureKind kind = SniffFile(fd);
    if (kind != TPictureKind::None && kind != TPictureKind::Wmf)
        DecodeWithQt(fd, kind, QSize(256, 256), false, stop, image);
#elif FUZZ_ENTRY == ENTRY_METAFILE
    if (SniffFile(fd) == TPictureKind::Wmf)
        DecodeMetafile(fd, QSize(256, 256), false, stop, image);
#endif
    ::close(fd);
#endif
    return 0;
}
