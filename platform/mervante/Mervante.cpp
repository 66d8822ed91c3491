// The RAW preview library. LibRaw and a walk of the file's structure find the previews inside
// the RAW file, reading through a datastream that forwards every call to the caller's table; the
// largest is written as a JPEG file, with its turn, through the same table. Nothing here opens a
// file by itself.
#include "Mervante.h"

#include "EmbeddedPreviews.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <omp.h>
#include <time.h>

namespace {

// Far above any camera's preview, far below what would exhaust memory on hostile input: a
// preview that claims more is treated as no preview at all.
constexpr long long MaxPreviewPixels = 100'000'000;
constexpr long long MaxPreviewBytes = 64LL << 20;
constexpr int DefaultQuality = 90;
// LibRaw can loop for ever on a crafted file (a box that does not advance its parser). Every
// such loop goes through the stream, so the stream ends the call once it has used this much of
// its thread's processor time; a real preview takes a small fraction of it. Processor time, not
// wall time, so a slow disk or a busy machine never cuts a good file short.
constexpr long long CpuBudgetNs = 5'000'000'000LL;
constexpr unsigned CallsPerClockCheck = 256;

using Bytes = std::vector<unsigned char>;

// A failed extraction step; its code is the call's result.
struct Failure {
    int Code;
};

// LibRaw's view of a stream of the caller's table. An exception raised by an entry is kept and
// LibRaw is stopped at once; the call rethrows it once LibRaw has returned.
class TableStream : public LibRaw_abstract_datastream {
public:
    TableStream(const MervanteIoTable &table, MervanteStream *stream)
        : FTable(table), FStream(stream) {}

    int valid() override { return FStream != nullptr && !FPending; }

    int read(void *buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0 || !valid())
            return 0;
        if (count > std::numeric_limits<size_t>::max() / size)
            return 0;
        const size_t total = size * count;
        size_t done = 0;
        Call([&] {
            auto *out = static_cast<unsigned char *>(buffer);
            while (done < total) {
                const size_t chunk = std::min<size_t>(total - done, 1u << 30);
                const std::int32_t n =
                    FTable.Read(out + done, 1, static_cast<std::int32_t>(chunk), FStream);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
                if (static_cast<size_t>(n) < chunk)
                    break;
            }
        });
        if (done < total)
            FShortRead = true;
        return static_cast<int>(done / size);
    }

    int seek(INT64 offset, int whence) override {
        if (!valid())
            return -1;
        INT64 target = offset;
        if (whence == SEEK_CUR)
            target += tell();
        else if (whence == SEEK_END)
            target += size();
        else if (whence != SEEK_SET)
            return -1;
        // Positions outside the file's 32-bit range fail here, the way fseek fails.
        if (target < 0 || target > std::numeric_limits<std::int32_t>::max())
            return -1;
        std::int32_t r = -1;
        Call([&] { r = FTable.Seek(FStream, static_cast<std::int32_t>(target), SEEK_SET); });
        return r == 0 ? 0 : -1;
    }

    INT64 tell() override {
        if (!valid())
            return -1;
        std::int32_t r = -1;
        Call([&] { r = FTable.Tell(FStream); });
        return r;
    }

    INT64 size() override {
        if (FSize < 0 && valid()) {
            Call([&] {
                const std::int32_t here = FTable.Tell(FStream);
                if (FTable.Seek(FStream, 0, SEEK_END) == 0) {
                    FSize = FTable.Tell(FStream);
                    FTable.Seek(FStream, here, SEEK_SET);
                }
            });
        }
        return FSize < 0 ? 0 : FSize;
    }

    int get_char() override {
        if (!valid())
            return -1;
        int c = -1;
        Call([&] { c = FTable.Getc(FStream); });
        return c;
    }

    char *gets(char *buffer, int n) override {
        if (!valid() || buffer == nullptr || n < 1)
            return nullptr;
        char *r = nullptr;
        Call([&] { r = FTable.Gets(buffer, n, FStream); });
        return r;
    }

    int scanf_one(const char *format, void *value) override {
        // A token is read up to the next white space, which is consumed with it.
        char token[64];
        int length = 0;
        int c = get_char();
        for (int skipped = 0; c != -1 && std::strchr(" \t\r\n", c) && skipped < 4096; ++skipped)
            c = get_char();
        while (c != -1 && c != 0 && !std::strchr(" \t\r\n", c) && length < int(sizeof token) - 1) {
            token[length++] = static_cast<char>(c);
            c = get_char();
        }
        token[length] = 0;
        if (length == 0)
            return -1;
        return std::sscanf(token, format, value);
    }

    int eof() override {
        if (!valid())
            return 1;
        std::int32_t r = -1;
        Call([&] { r = FTable.Eof(FStream); });
        return r != 0;
    }

    void *make_jas_stream() override { return nullptr; }

    bool ShortRead() const { return FShortRead; }
    bool OverBudget() const { return FOverBudget; }
    void ClearShortRead() { FShortRead = false; }
    std::exception_ptr Pending() const { return FPending; }

private:
    template <typename F> void Call(F &&f) {
        if (++FCalls % CallsPerClockCheck == 0 && ThreadCpuNs() - FStartCpu > CpuBudgetNs)
            FOverBudget = true;
        // Every later call fails too, so LibRaw cannot go on with a half-read structure.
        if (FOverBudget)
            throw LIBRAW_EXCEPTION_IO_CORRUPT;
        try {
            f();
        } catch (...) {
            FPending = std::current_exception();
            throw LIBRAW_EXCEPTION_IO_CORRUPT;
        }
    }

    static long long ThreadCpuNs() {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    }

    const MervanteIoTable &FTable;
    MervanteStream *FStream;
    INT64 FSize = -1;
    bool FShortRead = false;
    std::exception_ptr FPending;
    const long long FStartCpu = ThreadCpuNs();
    unsigned FCalls = 0;
    bool FOverBudget = false;
};

// A picture in memory, 8 bits per sample, rows top-down.
struct Pixels {
    int Width = 0;
    int Height = 0;
    int Components = 0; // 1 grey, 3 RGB
    Bytes Data;
};

// Applies LibRaw's flip (bit 2: swap rows and columns, bit 1: mirror rows, bit 0: mirror
// columns, as the output pixel's source) so the picture stands upright.
Pixels Upright(const Pixels &in, int flip) {
    Pixels out;
    const bool swap = (flip & 4) != 0;
    out.Width = swap ? in.Height : in.Width;
    out.Height = swap ? in.Width : in.Height;
    out.Components = in.Components;
    out.Data.resize(in.Data.size());
    const int c = in.Components;
    for (int row = 0; row < out.Height; ++row) {
        for (int col = 0; col < out.Width; ++col) {
            int r = row, k = col;
            if (swap)
                std::swap(r, k);
            if (flip & 2)
                r = in.Height - 1 - r;
            if (flip & 1)
                k = in.Width - 1 - k;
            std::memcpy(&out.Data[(size_t(row) * out.Width + col) * c],
                        &in.Data[(size_t(r) * in.Width + k) * c], size_t(c));
        }
    }
    return out;
}

struct JpegErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager *>(cinfo->err)->Jump, 1);
}

extern "C" void JpegSilent(j_common_ptr) {}

// Encodes into memory (memorySize bytes, given by the caller); false when libjpeg fails. The
// libjpeg calls live here, without C++ objects, so the longjmp out of an error skips no
// destructor.
bool EncodeInto(const Pixels &pixels, int quality, unsigned char *&memory,
                unsigned long &memorySize) {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.Base);
    err.Base.error_exit = JpegErrorExit;
    err.Base.output_message = JpegSilent;
    if (setjmp(err.Jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &memory, &memorySize);
    cinfo.image_width = static_cast<JDIMENSION>(pixels.Width);
    cinfo.image_height = static_cast<JDIMENSION>(pixels.Height);
    cinfo.input_components = pixels.Components;
    cinfo.in_color_space = pixels.Components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = size_t(pixels.Width) * pixels.Components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels.Data[cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Encodes pixels with libjpeg into a memory buffer; false when libjpeg fails.
bool EncodeJpeg(const Pixels &pixels, int quality, Bytes &result) {
    // Room for the worst case of any picture this size, so libjpeg never grows the buffer.
    // Once it has grown one it allocated itself, it has freed the block the caller's pointer
    // still names until the encode finishes: freeing that pointer after an error would free it
    // twice. Pages never written are never touched.
    const auto padded = [](int n) { return (size_t(n) + 15) & ~size_t(15); };
    const size_t capacity = padded(pixels.Width) * padded(pixels.Height) * 6 + 4096;
    auto buffer = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    unsigned char *memory = buffer.get();
    unsigned long memorySize = capacity;
    const bool ok = EncodeInto(pixels, quality, memory, memorySize);
    if (ok)
        result.assign(memory, memory + memorySize);
    if (memory != buffer.get()) // grown after all; only a finished encode hands it back
        std::free(memory);
    return ok;
}

// Reads a JPEG header quietly (libjpeg would print its warnings about damaged data).
bool ReadJpegHeader(const unsigned char *jpeg, size_t size, int &width, int &height, bool &grey) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.Base);
    err.Base.error_exit = JpegErrorExit;
    err.Base.output_message = JpegSilent;
    if (setjmp(err.Jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(size));
    const bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
    width = static_cast<int>(cinfo.image_width);
    height = static_cast<int>(cinfo.image_height);
    grey = cinfo.num_components == 1;
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

// A preview ready to be written: bytes of its own, or a view into LibRaw's buffer, which then
// stays alive with it (a preview is never held twice).
struct Preview {
    std::unique_ptr<LibRaw> Owner;
    Bytes Own;
    const unsigned char *Data = nullptr;
    size_t Size = 0;

    void Take(Bytes bytes) {
        Own = std::move(bytes);
        Data = Own.data();
        Size = Own.size();
    }
};

// Checks that the JPEG picture jpeg (size bytes) is of a sane size and says how it stands. A
// picture that needs a turn keeps its bytes, with the turn in a marker segment of its own
// after the start of the picture: turning it here would cost decoding the full-size picture,
// where its readers turn a picture they have already scaled down.
void UprightJpeg(const unsigned char *jpeg, size_t size, int flip, Preview &out) {
    int width = 0, height = 0;
    bool grey = false;
    if (!ReadJpegHeader(jpeg, size, width, height, grey) || width <= 0 || height <= 0)
        throw Failure{MervanteDamagedPreview};
    if (static_cast<long long>(width) * height > MaxPreviewPixels)
        throw Failure{MervanteNoPreview};
    if ((flip & 7) == 0) {
        out.Data = jpeg;
        out.Size = size;
        return;
    }
    const unsigned char segment[] = {0xFF, MervanteTurnMarker, 0, 2 + MervanteTurnIdLength + 1};
    Bytes result;
    result.reserve(size + sizeof segment + MervanteTurnIdLength + 1);
    result.insert(result.end(), jpeg, jpeg + 2); // the start-of-image marker
    result.insert(result.end(), segment, segment + sizeof segment);
    result.insert(result.end(), MervanteTurnId, MervanteTurnId + MervanteTurnIdLength);
    result.push_back(static_cast<unsigned char>(flip & 7));
    result.insert(result.end(), jpeg + 2, jpeg + size);
    out.Take(std::move(result));
}

// LibRaw's bitmap preview as an upright JPEG.
Bytes EncodeBitmap(const libraw_thumbnail_t &thumb, int flip, int quality) {
    const int width = thumb.twidth, height = thumb.theight;
    const int colors = thumb.tcolors;
    const bool wide = thumb.tformat == LIBRAW_THUMBNAIL_BITMAP16;
    if (width <= 0 || height <= 0 || (colors != 1 && colors != 3))
        throw Failure{MervanteDamagedPreview};
    if (static_cast<long long>(width) * height > MaxPreviewPixels)
        throw Failure{MervanteNoPreview};
    const size_t samples = size_t(width) * height * colors;
    if (thumb.thumb == nullptr || thumb.tlength < samples * (wide ? 2 : 1))
        throw Failure{MervanteDamagedPreview};
    Pixels pixels;
    pixels.Width = width;
    pixels.Height = height;
    pixels.Components = colors;
    pixels.Data.resize(samples);
    if (wide) {
        const auto *in = reinterpret_cast<const unsigned char *>(thumb.thumb);
        for (size_t i = 0; i < samples; ++i) {
            std::uint16_t v;
            std::memcpy(&v, in + 2 * i, 2);
            pixels.Data[i] = static_cast<unsigned char>(v >> 8);
        }
    } else {
        std::memcpy(pixels.Data.data(), thumb.thumb, samples);
    }
    Bytes result;
    if (!EncodeJpeg((flip & 7) ? Upright(pixels, flip) : pixels, quality, result))
        throw Failure{MervanteDamagedPreview};
    return result;
}

extern "C" void QuietDataError(void *, const char *, const int) {}
extern "C" void QuietMemoryError(void *, const char *, const char *) {}

// n bytes at offset, through the stream; false when the file has fewer there.
bool ReadAt(TableStream &stream, std::int64_t offset, void *buffer, size_t n) {
    return stream.seek(offset, SEEK_SET) == 0 && size_t(stream.read(buffer, 1, n)) == n;
}

// The pixel count of a JPEG preview; 0 when it is no 8-bit JPEG picture of a sane size (the
// raw data of a file in lossless JPEG is turned away here).
long long JpegArea(const unsigned char *jpeg, size_t size) {
    int width = 0, height = 0;
    bool grey = false;
    if (!ReadJpegHeader(jpeg, size, width, height, grey) || width <= 0 || height <= 0)
        return 0;
    const long long area = static_cast<long long>(width) * height;
    return area > MaxPreviewPixels ? 0 : area;
}

// The largest of the JPEG previews the walk found that lies whole inside the file and is
// larger than `than` pixels; false when there is none.
bool LargestEmbeddedJpeg(TableStream &stream, const TPreviewScan &scan, INT64 fileSize,
                         long long than, Bytes &out) {
    // The start of each is enough for its header (a camera's markers take a few dozen
    // kilobytes); only the winner is read whole.
    constexpr size_t HeaderBytes = 256 << 10;
    long long best = than;
    const TPreviewSpan *winner = nullptr;
    Bytes head;
    for (const TPreviewSpan &span : scan.Jpegs) {
        if (span.Length > MaxPreviewBytes || span.Offset + span.Length > fileSize)
            continue;
        head.resize(std::min<size_t>(size_t(span.Length), HeaderBytes));
        if (!ReadAt(stream, span.Offset, head.data(), head.size()))
            continue;
        const long long area = JpegArea(head.data(), head.size());
        if (area > best) {
            best = area;
            winner = &span;
        }
    }
    if (winner == nullptr)
        return false;
    out.resize(size_t(winner->Length));
    return ReadAt(stream, winner->Offset, out.data(), out.size());
}

// LibRaw's own preview, checked; returns its pixel count and leaves it in raw's thumbnail, or
// raises the Failure that says why there is none.
long long UnpackLibRawPreview(LibRaw &raw, TableStream &stream, INT64 fileSize) {
    const libraw_thumbnail_t &info = raw.imgdata.thumbnail;
    if (info.tformat == LIBRAW_THUMBNAIL_UNKNOWN && info.tlength == 0 && info.twidth == 0)
        throw Failure{MervanteNoPreview};
    // A stored preview cannot be larger than the file that holds it.
    if (INT64(info.tlength) > fileSize)
        throw Failure{MervanteDamagedPreview};
    // A claim beyond any camera's is refused before anything is read, so a sparse file cannot
    // make us hold gigabytes.
    if (static_cast<long long>(info.tlength) > MaxPreviewBytes ||
        static_cast<long long>(info.twidth) * info.theight > MaxPreviewPixels)
        throw Failure{MervanteNoPreview};

    stream.ClearShortRead();
    const int status = raw.unpack_thumb();
    if (status == LIBRAW_NO_THUMBNAIL)
        throw Failure{MervanteNoPreview};
    if (status != LIBRAW_SUCCESS || stream.ShortRead())
        throw Failure{MervanteDamagedPreview};
    const libraw_thumbnail_t &thumb = raw.imgdata.thumbnail;
    if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
        if (thumb.thumb == nullptr || thumb.tlength < 4)
            throw Failure{MervanteDamagedPreview};
        const long long area =
            JpegArea(reinterpret_cast<const unsigned char *>(thumb.thumb), thumb.tlength);
        if (area == 0)
            throw Failure{MervanteDamagedPreview};
        return area;
    }
    if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP || thumb.tformat == LIBRAW_THUMBNAIL_BITMAP16)
        return static_cast<long long>(thumb.twidth) * thumb.theight;
    throw Failure{MervanteNoPreview};
}

// Reads the RAW file through stream and returns its largest preview as an upright JPEG: LibRaw's
// choice, unless the file carries a larger JPEG elsewhere (or LibRaw cannot read the file, but
// a whole preview lies in it all the same).
Preview ReadPreview(TableStream &stream, int quality) {
    Preview preview;
    preview.Owner = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    LibRaw *raw = preview.Owner.get();
    // LibRaw reports damaged data on standard error by default; its result codes say enough.
    raw->set_dataerror_handler(QuietDataError, nullptr);
    raw->set_memerror_handler(QuietMemoryError, nullptr);
    const INT64 fileSize = stream.size();
    const bool opened = raw->open_datastream(&stream) == LIBRAW_SUCCESS;

    int libRawFailure = MervanteNoPreview;
    long long libRawArea = 0;
    if (opened) {
        try {
            libRawArea = UnpackLibRawPreview(*raw, stream, fileSize);
        } catch (const Failure &failure) {
            libRawFailure = failure.Code;
        }
    }
    const TPreviewScan scan =
        ScanPreviews([&](std::int64_t offset, void *buffer,
                         size_t n) { return ReadAt(stream, offset, buffer, n); },
                     fileSize);
    const int flip = opened ? raw->imgdata.sizes.flip : FlipOfOrientation(scan.Orientation);
    Bytes embedded;
    if (LargestEmbeddedJpeg(stream, scan, fileSize, libRawArea, embedded)) {
        preview.Owner.reset();
        preview.Take(std::move(embedded));
        UprightJpeg(preview.Own.data(), preview.Own.size(), flip, preview);
        return preview;
    }
    if (libRawArea == 0)
        throw Failure{libRawFailure};

    const libraw_thumbnail_t &thumb = raw->imgdata.thumbnail;
    if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
        const auto *data = reinterpret_cast<const unsigned char *>(thumb.thumb);
        UprightJpeg(data, thumb.tlength, flip, preview);
        return preview;
    }
    preview.Take(EncodeBitmap(thumb, flip, quality));
    return preview;
}

bool TableUsable(const MervanteIoTable *table) {
    return table != nullptr && table->Size >= std::intptr_t(sizeof(MervanteIoTable)) &&
           table->Gets && table->Open && table->Close && table->Tell && table->Read &&
           table->Getc && table->Write && table->Eof && table->Seek;
}

void WriteOutput(const MervanteIoTable &table, const char *path, const Preview &jpeg) {
    MervanteStream *out = table.Open(path, "wb");
    if (out == nullptr)
        throw Failure{MervanteCannotWrite};
    std::int32_t written = 0;
    try {
        written = jpeg.Size == 0
                      ? 0
                      : table.Write(jpeg.Data, 1, static_cast<std::int32_t>(jpeg.Size), out);
    } catch (...) {
        try {
            table.Close(out);
        } catch (...) {
        }
        throw;
    }
    table.Close(out);
    if (written != static_cast<std::int32_t>(jpeg.Size))
        throw Failure{MervanteCannotWrite};
}

} // namespace

extern "C" int ExtractThumbnail(const MervanteIoTable *table, const char *input, char *output,
                                std::int32_t *quality) {
    if (!TableUsable(table) || input == nullptr || output == nullptr)
        return MervanteBadArguments;
    const size_t outputLength = strnlen(output, MervanteOutputPathSize);
    if (outputLength == 0 || outputLength == MervanteOutputPathSize)
        return MervanteBadArguments;
    int q = quality ? *quality : DefaultQuality;
    if (q < 1 || q > 100)
        q = DefaultQuality;
    // LibRaw's OpenMP loops would spread one file over every core, where the callers run one
    // file per worker and one worker per core: each call keeps to the thread it is made on.
    omp_set_num_threads(1);

    try {
        MervanteStream *in = table->Open(input, "rb");
        if (in == nullptr)
            return MervanteCannotOpenInput;
        // Declared before the preview, so that the LibRaw object the preview may keep alive is
        // gone before the stream it was given.
        TableStream stream(*table, in);
        Preview jpeg;
        int code = MervanteOk;
        try {
            jpeg = ReadPreview(stream, q);
        } catch (const Failure &failure) {
            code = failure.Code;
        } catch (const std::bad_alloc &) {
            code = MervanteOutOfMemory;
        } catch (...) {
            // The stop signal of a failed entry (its exception is rethrown below) or a
            // failure inside LibRaw that it did not turn into a result code.
            code = MervanteDamagedPreview;
        }
        // LibRaw may carry on after a refused call; what it read by then is not to be trusted.
        if (stream.OverBudget())
            code = MervanteDamagedPreview;
        if (std::exception_ptr pending = stream.Pending()) {
            try {
                table->Close(in);
            } catch (...) {
            }
            std::rethrow_exception(pending);
        }
        table->Close(in);
        if (code != MervanteOk)
            return code;
        if (jpeg.Size > size_t(std::numeric_limits<std::int32_t>::max()))
            return MervanteDamagedPreview;
        WriteOutput(*table, output, jpeg);
        return MervanteOk;
    } catch (const Failure &failure) {
        return failure.Code;
    } catch (const std::bad_alloc &) {
        return MervanteOutOfMemory;
    }
}
