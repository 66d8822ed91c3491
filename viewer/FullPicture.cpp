#include "FullPicture.h"

#include <unistd.h>

#include <exception>
#include <mutex>
#include <vector>

#include "FileRead.h"
#include "JpegCodec.h"
#include "PictureKind.h"
#include "RawFormats.h"
#include "RawPreview.h"
#include "SandboxedDecode.h"
#include "TempFolder.h"

namespace {

// Large enough that no picture is scaled to fit it.
const QSize Unbounded(1 << 20, 1 << 20);

TDecodeResult DecodeRawPreview(const std::string &path, const TStop &stop, QImage &result) {
    // One preview file serves every decode: a decode that was given up still runs the library
    // call to its end, and the next one must not write the file under it.
    static std::mutex previewFile;
    const std::lock_guard<std::mutex> lock(previewFile);
    if (stop())
        return stop.Reason();
    const std::string preview = TempPreviewPath(TempPreview::Viewer, FullPictureWorker);
    struct TUsedUp {
        const std::string &path;
        ~TUsedUp() { ::unlink(path.c_str()); }
    } usedUp{preview};
    if (ExtractPreviewToFile(path, preview) != 0)
        return TDecodeResult::Failed;
    if (stop())
        return stop.Reason();
    const std::vector<std::uint8_t> bytes = ReadWholeFile(preview);
    result = DecodeJpeg(bytes.data(), bytes.size());
    return result.isNull() ? TDecodeResult::Failed : TDecodeResult::Ok;
}

TDecodeResult DecodePicture(const std::string &path, const TStop &stop, QImage &result) {
    struct stat st;
    const int fd = OpenRegular(path, st);
    if (fd < 0)
        return TDecodeResult::Failed;
    struct TClose {
        int fd;
        ~TClose() { ::close(fd); }
    } closer{fd};
    const TPictureKind kind = SniffFile(fd);
    QImage image;
    TDecodeResult r = TDecodeResult::Failed;
    if (kind != TPictureKind::None)
        r = DecodeInSandbox(fd, kind, Unbounded, false, stop.KilledFlag(), stop.Left(), image);
    if (r != TDecodeResult::Ok)
        return r;
    result = Boxed(image, image.size(), false); // flattened on white, as the shell's pictures
    return TDecodeResult::Ok;
}

} // namespace

TDecodeResult DecodeFullPicture(const std::string &path, const TStop &stop, QImage &result) {
    result = QImage();
    try {
        return IsRawFileName(path) ? DecodeRawPreview(path, stop, result)
                                   : DecodePicture(path, stop, result);
    } catch (const std::exception &) {
        // A file that cannot be read at full size keeps the picture already shown.
        result = QImage();
        return TDecodeResult::Failed;
    }
}
