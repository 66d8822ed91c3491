// JPEG thumbnails: libjpeg decodes only the rows the nearest-neighbour stretch samples and the
// result is encoded again, all through memory.
#include "JpegConv.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "Exceptions.h"
#include "JpegCodec.h"
#include "JpegError.h"
#include "JpegMarkers.h"
#include "JpegWork.h"
#include "PreviewPicture.h"

namespace {

// Multi-scan files keep every coefficient of the picture in memory while decoding; a header
// that claims more than this is refused (libjpeg raises JERR_NO_BACKING_STORE).
constexpr long MaxDecoderMemory = 1L << 30;
constexpr std::size_t MaxSourceBytes = std::size_t(1) << 31;

// The libjpeg calls live in functions without C++ objects of their own, so that the longjmp
// out of the error handler skips no destructor.
struct RenderJob {
    const std::uint8_t *data;
    std::size_t size;
    bool mayskip;
    // The drawn, visible part of the bitmap: rows top to bottom, each with its source row
    // (non-decreasing), and the columns with their source columns.
    std::uint8_t *firstPixel;
    std::ptrdiff_t bytesPerLine;
    const int *rowSource;
    int rows;
    const int *columnSource;
    int columns;
    // A picture that is turned: of the source rows the thumbnail samples (ascending), the
    // columns it samples are stored as decoded, row after row; the caller samples them once
    // the decode is done.
    const int *storedRows;
    int storedCount;
    const int *storedColumns;
    int storedColumnCount;
    std::uint8_t *store;
    int components;     // out: bytes per decoded pixel
    bool adobeInverted; // out
    int messageCode;
};

void SampleRow(const RenderJob &job, const JSAMPLE *src, int components, bool adobeInverted,
               std::uint8_t *dst) {
    if (components == 4) {
        for (int c = 0; c < job.columns; ++c, dst += 3)
            CmykToRgb(src + std::ptrdiff_t(job.columnSource[c]) * 4, adobeInverted, dst);
    } else {
        for (int c = 0; c < job.columns; ++c, dst += 3)
            std::memcpy(dst, src + std::ptrdiff_t(job.columnSource[c]) * 3, 3);
    }
}

void PassRows(jpeg_decompress_struct &cinfo, JDIMENSION count, bool skip, JSAMPARRAY scratch) {
    if (count == 0)
        return;
    if (skip) {
        jpeg_skip_scanlines(&cinfo, count);
        return;
    }
    for (JDIMENSION i = 0; i < count; ++i)
        jpeg_read_scanlines(&cinfo, scratch, 1);
}

bool RunRender(RenderJob &job, jpeg_decompress_struct &cinfo, JpegErrorManager &err,
               TJpegWorkLimit &work) {
    InstallJpegErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), err);
    if (setjmp(err.jump)) {
        job.messageCode = err.pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    OpenJpegInMemory(cinfo, job.data, job.size, work);
    cinfo.mem->max_memory_to_use = MaxDecoderMemory;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);

    const int components = cinfo.output_components;
    const bool adobeInverted = cinfo.saw_Adobe_marker;
    job.components = components;
    job.adobeInverted = adobeInverted;
    // jpeg_skip_scanlines gives the rows read after it exactly the pixels of a full decode, on
    // sequential and progressive files, every usual chroma subsampling, greyscale and CMYK,
    // whole, truncated or corrupt (the tests compare both ways on all of them).
    const bool skip = job.mayskip;
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * JDIMENSION(components), 1);
    std::uint8_t *kept = job.store;
    for (int i = 0; i < job.storedCount; ++i) {
        PassRows(cinfo, JDIMENSION(job.storedRows[i]) - cinfo.output_scanline, skip, row);
        jpeg_read_scanlines(&cinfo, row, 1);
        for (int k = 0; k < job.storedColumnCount; ++k, kept += components)
            std::memcpy(kept, row[0] + std::ptrdiff_t(job.storedColumns[k]) * components,
                        std::size_t(components));
    }
    const std::uint8_t *previous = nullptr;
    int previousSource = -1;
    for (int r = 0; r < job.rows; ++r) {
        std::uint8_t *dst = job.firstPixel + r * job.bytesPerLine;
        const int source = job.rowSource[r];
        if (source == previousSource) {
            std::memcpy(dst, previous, std::size_t(job.columns) * 3);
            continue;
        }
        PassRows(cinfo, JDIMENSION(source) - cinfo.output_scanline, skip, row);
        jpeg_read_scanlines(&cinfo, row, 1);
        SampleRow(job, row[0], components, adobeInverted, dst);
        previous = dst;
        previousSource = source;
    }
    // The last row is read, not skipped: skipping to the end would leave the markers after
    // the picture data unread, and a broken one there fails a full decode.
    if (cinfo.output_scanline < cinfo.output_height) {
        PassRows(cinfo, cinfo.output_height - cinfo.output_scanline - 1, skip, row);
        jpeg_read_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

struct EncodeJob {
    const std::uint8_t *bits;
    std::ptrdiff_t bytesPerLine;
    int width;
    int height;
    bool progressive;
    const std::string *source; // the second comment's text, when not empty
    unsigned char *out; // in: a buffer of outSize bytes; libjpeg mallocs another if it overflows
    unsigned long outSize;
    int messageCode;
};

bool RunEncode(EncodeJob &job, jpeg_compress_struct &cinfo, JpegErrorManager &err) {
    InstallJpegErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), err);
    if (setjmp(err.jump)) {
        job.messageCode = err.pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job.out, &job.outSize);
    cinfo.image_width = JDIMENSION(job.width);
    cinfo.image_height = JDIMENSION(job.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (job.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(ThumbnailComment),
                      sizeof ThumbnailComment - 1);
    if (!job.source->empty())
        jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(job.source->data()),
                          unsigned(job.source->size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(job.bits + cinfo.next_scanline * job.bytesPerLine);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

std::vector<std::uint8_t> ReadToEnd(std::istream &source) {
    std::vector<std::uint8_t> bytes;
    // Knowing the size up front keeps the peak at one copy of the file.
    const std::istream::pos_type start = source.tellg();
    if (start != std::istream::pos_type(-1) && source.seekg(0, std::ios::end)) {
        const std::istream::pos_type end = source.tellg();
        source.seekg(start);
        if (end != std::istream::pos_type(-1) && end > start &&
            std::uint64_t(end - start) <= MaxSourceBytes)
            bytes.reserve(std::size_t(end - start));
    }
    source.clear(source.rdstate() & std::ios::badbit);
    char buffer[65536];
    while (source) {
        source.read(buffer, sizeof buffer);
        const std::size_t n = std::size_t(source.gcount());
        if (bytes.size() + n > MaxSourceBytes)
            throw MakeOutOfMemory();
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    if (source.bad())
        throw EStreamError("Stream read error");
    return bytes;
}

} // namespace

TThumbPlacement ThumbnailPlacement(int pictureW, int pictureH, int width, int height) {
    if (pictureH == 0) {
        if (pictureW == 0)
            throw MakeInvalidOp();
        throw MakeZeroDivide();
    }
    const double ratio = double(pictureW) / double(pictureH);
    // The stored ratio is a double, but the quotient and the product are taken in extended
    // precision before rounding, as the thumbnail files have always been made: 4:3 into
    // 150 x 100 is 112.50000000000000625 there and draws 113 rows, where double arithmetic
    // would give exactly 112.5 and draw 112.
    const long double extended = ratio;
    TThumbPlacement p;
    if (ratio > 1.0) {
        p.DrawW = width;
        p.DrawH = int(std::nearbyint(static_cast<long double>(width) / extended));
        p.Y = (height - p.DrawH) / 2;
    } else {
        p.DrawH = height;
        p.DrawW = int(std::nearbyint(static_cast<long double>(height) * extended));
        p.X = (width - p.DrawW) / 2;
    }
    return p;
}

namespace {

void Render(RenderJob &job) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    TJpegWorkLimit work;
    if (!RunRender(job, cinfo, err, work)) {
        if (work.exceeded)
            throw EJPEG(JpegWorkMessage(work));
        RaiseJpeg(job.messageCode);
    }
}

// The thumbnail of a picture stored turned: the upright picture's sample (rowSource[r],
// columnSource[c]) is the stored picture's pixel the flip names. The stored rows that holds
// are decoded once each, in order; a quarter turn makes them the thumbnail's columns.
QImage &RenderTurned(const std::uint8_t *data, std::size_t size, TRowAccess access, int flip,
                     const JpegHeaderInfo &info, QImage &bitmap, int top, int left,
                     const std::vector<int> &rowSource, const std::vector<int> &columnSource) {
    const bool swap = (flip & 4) != 0;
    const auto storedRow = [&](int r, int c) {
        const int row = swap ? columnSource[std::size_t(c)] : rowSource[std::size_t(r)];
        return (flip & 2) ? info.height - 1 - row : row;
    };
    const auto storedColumn = [&](int r, int c) {
        const int column = swap ? rowSource[std::size_t(r)] : columnSource[std::size_t(c)];
        return (flip & 1) ? info.width - 1 - column : column;
    };
    const int rows = int(rowSource.size()), columns = int(columnSource.size());
    // The stored row depends on one of the thumbnail's coordinates, the stored column on the
    // other: every pair the thumbnail samples is among these rows and columns.
    std::vector<int> stored, kept;
    for (int i = 0, n = swap ? columns : rows; i < n; ++i)
        stored.push_back(swap ? storedRow(0, i) : storedRow(i, 0));
    for (int i = 0, n = swap ? rows : columns; i < n; ++i)
        kept.push_back(swap ? storedColumn(i, 0) : storedColumn(0, i));
    for (std::vector<int> *v : {&stored, &kept}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    const int components = info.components == 4 ? 4 : 3;
    const std::size_t rowBytes = kept.size() * std::size_t(components);
    std::vector<std::uint8_t> store(stored.size() * rowBytes);

    RenderJob job{data,
                  size,
                  access == TRowAccess::WhereIdentical,
                  nullptr,
                  0,
                  nullptr,
                  0,
                  nullptr,
                  0,
                  stored.data(),
                  int(stored.size()),
                  kept.data(),
                  int(kept.size()),
                  store.data(),
                  0,
                  false,
                  0};
    Render(job);
    if (job.components != components)
        RaiseJpeg(JERR_BAD_J_COLORSPACE);
    const auto slot = [](const std::vector<int> &v, int value) {
        return std::size_t(std::lower_bound(v.begin(), v.end(), value) - v.begin());
    };
    for (int r = 0; r < rows; ++r) {
        std::uint8_t *dst = bitmap.bits() + std::ptrdiff_t(top + r) * bitmap.bytesPerLine() +
                            std::ptrdiff_t(left) * 3;
        for (int c = 0; c < columns; ++c, dst += 3) {
            const std::uint8_t *src = store.data() + slot(stored, storedRow(r, c)) * rowBytes +
                                      slot(kept, storedColumn(r, c)) * std::size_t(components);
            if (components == 4)
                CmykToRgb(src, job.adobeInverted, dst);
            else
                std::memcpy(dst, src, 3);
        }
    }
    return bitmap;
}

} // namespace

QImage RenderThumbnail(const std::uint8_t *data, std::size_t size, int width, int height,
                       TColor fillColor, TRowAccess access) {
    if (width < 1)
        throw Exception("Invalid Width");
    if (height < 1)
        throw Exception("Invalid Height");
    if (size == 0)
        throw MakeInvalidOp(); // a picture of 0 x 0 pixels has no shape
    const JpegHeaderInfo info = ReadJpegHeader(data, size);
    // A RAW file's preview may be stored turned: it is placed as it stands upright, and each
    // pixel the upright picture would give is taken from where it is stored.
    const int flip = PreviewTurn(data, size);
    const bool swap = (flip & 4) != 0;
    const int uprightW = swap ? info.height : info.width;
    const int uprightH = swap ? info.width : info.height;
    const TThumbPlacement place = ThumbnailPlacement(uprightW, uprightH, width, height);
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        RaiseJpeg(JERR_IMAGE_TOO_BIG);
    if (std::int64_t(width) * height > MaxThumbnailPixels)
        throw MakeOutOfMemory();
    if (std::int64_t(info.width) * info.height > MaxJpegPixels)
        RaiseJpeg(JERR_IMAGE_TOO_BIG);

    QImage bitmap(width, height, QImage::Format_RGB888);
    if (bitmap.isNull())
        throw MakeOutOfMemory();
    bitmap.fill(ToQColor(fillColor));

    // The drawn rectangle clipped to the box; the overhang is cut off.
    const int top = std::max(place.Y, 0), bottom = std::min(place.Y + place.DrawH, height);
    const int left = std::max(place.X, 0), right = std::min(place.X + place.DrawW, width);
    std::vector<int> rowSource, columnSource;
    if (top < bottom && left < right) {
        for (int y = top; y < bottom; ++y)
            rowSource.push_back(NearestSource(y - place.Y, place.DrawH, uprightH));
        for (int x = left; x < right; ++x)
            columnSource.push_back(NearestSource(x - place.X, place.DrawW, uprightW));
    }
    if (flip != 0)
        return RenderTurned(data, size, access, flip, info, bitmap, top, left, rowSource,
                            columnSource);
    RenderJob job{data,
                  size,
                  access == TRowAccess::WhereIdentical,
                  bitmap.bits() + std::ptrdiff_t(top) * bitmap.bytesPerLine() + left * 3,
                  bitmap.bytesPerLine(),
                  rowSource.data(),
                  int(rowSource.size()),
                  columnSource.data(),
                  int(columnSource.size()),
                  nullptr,
                  0,
                  nullptr,
                  0,
                  nullptr,
                  0,
                  false,
                  0};
    Render(job);
    return bitmap;
}

std::string EncodeThumbnail(const QImage &bitmap, bool progressive, const std::string &source) {
    const QImage rgb = bitmap.format() == QImage::Format_RGB888
                           ? bitmap
                           : bitmap.convertToFormat(QImage::Format_RGB888);
    // Room for the worst case of any picture this size, so the encoder never has to grow it;
    // pages never written are never touched.
    const auto padded = [](int n) { return (std::size_t(n) + 15) & ~std::size_t(15); };
    const std::size_t capacity = padded(rgb.width()) * padded(rgb.height()) * 6 + 4096;
    auto buffer = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    // Longer than a comment can hold, it is left out: the file is then converted again.
    const std::string tag = !source.empty() && source.size() <= 65533 - sizeof ThumbnailSourcePrefix
                                ? ThumbnailSourcePrefix + source
                                : std::string();
    EncodeJob job{rgb.constBits(), rgb.bytesPerLine(), rgb.width(),
                  rgb.height(),    progressive,        &tag,
                  buffer.get(),    capacity,           0};
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    if (!RunEncode(job, cinfo, err))
        RaiseJpeg(job.messageCode);
    std::string result(reinterpret_cast<const char *>(job.out), job.outSize);
    if (job.out != buffer.get())
        std::free(job.out);
    return result;
}

void MakeThumbnail(std::istream &source, std::ostream &dest, int width, int height,
                   TColor fillColor, const std::string &sourceIdentity) {
    if (width < 1)
        throw Exception("Invalid Width");
    if (height < 1)
        throw Exception("Invalid Height");
    std::string jpeg;
    try {
        std::vector<std::uint8_t> data = ReadToEnd(source);
        if (data.empty())
            throw MakeInvalidOp();
        // A preview stored turned was once turned into a sequential picture, and its
        // thumbnail is still made sequential.
        const bool progressive = ReadJpegHeader(data.data(), data.size()).progressive &&
                                 PreviewTurn(data.data(), data.size()) == 0;
        const QImage bitmap = RenderThumbnail(data.data(), data.size(), width, height, fillColor);
        data = {}; // the encoder's buffer may take its place
        jpeg = EncodeThumbnail(bitmap, progressive, sourceIdentity);
    } catch (const std::bad_alloc &) {
        throw MakeOutOfMemory();
    }
    dest.write(jpeg.data(), std::streamsize(jpeg.size()));
    dest.flush();
    if (!dest)
        throw EStreamError("Stream write error");
}
