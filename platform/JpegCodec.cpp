#include "JpegCodec.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "Exceptions.h"
#include "Graphics.h"
#include "JpegError.h"
#include "JpegWork.h"

namespace {

// The libjpeg calls live in functions without C++ objects of their own, so that the longjmp
// out of the error handler skips no destructor.
struct DecodeJob {
    const std::uint8_t *data;
    std::size_t size;
    JpegHeaderInfo info;
    QImage *out;     // filled when decoding; null for a header-only read
    int messageCode; // libjpeg's message number on failure
    bool tooLarge;
    bool noMemory;
    unsigned scaleDenom = 1; // decode at 1/scaleDenom of the size (DCT scaling)
};

bool RunDecode(DecodeJob &job, jpeg_decompress_struct &cinfo, JpegErrorManager &err,
               TJpegWorkLimit &work) {
    InstallJpegErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), err);
    if (setjmp(err.jump)) {
        job.messageCode = err.pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    OpenJpegInMemory(cinfo, job.data, job.size, work);
    job.info.width = int(cinfo.image_width);
    job.info.height = int(cinfo.image_height);
    job.info.components = cinfo.num_components;
    job.info.colorSpace = int(cinfo.jpeg_color_space);
    job.info.progressive = jpeg_has_multiple_scans(&cinfo) != 0;
    if (!job.out) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    if (std::int64_t(cinfo.image_width) * cinfo.image_height > MaxJpegPixels) {
        job.tooLarge = true;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Other pictures decode straight into the image's rows, in its own byte order (blue,
    // green, red, 0xFF in memory on little-endian machines).
    cinfo.out_color_space = cmyk                              ? JCS_CMYK
                            : Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA
                                                              : JCS_EXT_ARGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = job.scaleDenom;
    jpeg_start_decompress(&cinfo);
    const int w = int(cinfo.output_width), h = int(cinfo.output_height);
    *job.out = NewImageRGB32(w, h);
    if (job.out->isNull()) {
        job.noMemory = true;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    std::uint8_t *const bits = job.out->bits();
    const std::ptrdiff_t bytesPerLine = job.out->bytesPerLine();
    if (!cmyk) {
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW dst = bits + std::ptrdiff_t(cinfo.output_scanline) * bytesPerLine;
            jpeg_read_scanlines(&cinfo, &dst, 1);
        }
    } else {
        JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                    JPOOL_IMAGE, JDIMENSION(w * 4), 1);
        // Adobe writes CMYK inverted; such files carry an Adobe marker.
        const bool inverted = cinfo.saw_Adobe_marker;
        while (cinfo.output_scanline < cinfo.output_height) {
            QRgb *dst = reinterpret_cast<QRgb *>(bits + std::ptrdiff_t(cinfo.output_scanline) *
                                                            bytesPerLine);
            jpeg_read_scanlines(&cinfo, row, 1);
            const JSAMPLE *src = row[0];
            for (int x = 0; x < w; ++x, src += 4) {
                std::uint8_t rgb[3];
                CmykToRgb(src, inverted, rgb);
                dst[x] = qRgb(rgb[0], rgb[1], rgb[2]);
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

bool JpegIsWhole(const std::uint8_t *data, std::size_t size) {
    if (size < 4 || data[size - 2] != 0xFF || data[size - 1] != 0xD9)
        return false;
    QImage image;
    // An eighth of the size reads every bit of the data all the same.
    DecodeJob job{data, size, {}, &image, 0, false, false, 8};
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    TJpegWorkLimit work;
    try {
        return RunDecode(job, cinfo, err, work) && err.pub.num_warnings == 0;
    } catch (const std::exception &) {
        return false;
    }
}

JpegHeaderInfo ReadJpegHeader(const std::uint8_t *data, std::size_t size) {
    DecodeJob job{data, size, {}, nullptr, 0, false, false};
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    TJpegWorkLimit work;
    if (!RunDecode(job, cinfo, err, work))
        RaiseJpeg(job.messageCode);
    return job.info;
}

QImage DecodeJpeg(const std::uint8_t *data, std::size_t size, int scaleDenom,
                  const std::atomic<bool> *cancel) {
    QImage image;
    DecodeJob job{data, size, {}, &image, 0, false, false};
    if (scaleDenom == 2 || scaleDenom == 4 || scaleDenom == 8)
        job.scaleDenom = unsigned(scaleDenom);
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    TJpegWorkLimit work;
    work.cancel = cancel;
    if (!RunDecode(job, cinfo, err, work)) {
        if (work.cancelled)
            throw EJPEG(JpegCancelledMessage);
        if (work.exceeded)
            throw EJPEG(JpegWorkMessage(work));
        if (job.noMemory)
            throw MakeOutOfMemory();
        if (job.tooLarge)
            RaiseJpeg(JERR_IMAGE_TOO_BIG);
        RaiseJpeg(job.messageCode);
    }
    return image;
}
