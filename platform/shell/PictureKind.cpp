#include "PictureKind.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TPictureKind Sniff(const unsigned char *b, std::size_t n) {
    auto word = [&](std::size_t at) { return unsigned(b[at]) | unsigned(b[at + 1]) << 8; };
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return TPictureKind::Jpeg;
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return TPictureKind::Png;
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return TPictureKind::Gif;
    if (n >= 14 && b[0] == 'B' && b[1] == 'M')
        return TPictureKind::Bmp;
    if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
                   (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43))))
        return TPictureKind::Tiff;
    if (n >= 4 && b[0] == 0xD7 && b[1] == 0xCD && b[2] == 0xC6 && b[3] == 0x9A)
        return TPictureKind::Wmf; // placeable metafile
    if (n >= 6 && (word(0) == 1 || word(0) == 2) && word(2) == 9 &&
        (word(4) == 0x0100 || word(4) == 0x0300))
        return TPictureKind::Wmf;
    return TPictureKind::None;
}

TPictureKind SniffFile(int fd) {
    unsigned char head[16];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    return n > 0 ? Sniff(head, std::size_t(n)) : TPictureKind::None;
}

const char *QtFormat(TPictureKind kind) {
    switch (kind) {
    case TPictureKind::Jpeg:
        return "jpeg";
    case TPictureKind::Png:
        return "png";
    case TPictureKind::Gif:
        return "gif";
    case TPictureKind::Bmp:
        return "bmp";
    case TPictureKind::Tiff:
        return "tiff";
    default:
        return "";
    }
}

int OpenRegular(const std::string &path, struct stat &st, bool followLinks) {
    const int found = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (found != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return -1;
    // The name may have been swapped for something else since stat.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
