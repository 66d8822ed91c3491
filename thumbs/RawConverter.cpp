#include "RawConverter.h"

#include <sys/stat.h>

#include "JpegConv.h"

namespace {

bool Older(const timespec &a, const timespec &b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

} // namespace

bool ThumbnailIsCurrent(const std::string &raw, const std::string &thumb) {
    struct stat r {};
    struct stat t {};
    if (::stat(raw.c_str(), &r) != 0 || ::stat(thumb.c_str(), &t) != 0)
        return false;
    if (!S_ISREG(t.st_mode) || t.st_size == 0 || Older(t.st_mtim, r.st_mtim))
        return false;
    return HasThumbnailComment(thumb);
}
