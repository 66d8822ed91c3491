#include "Cr2Writer.h"

#include <QImage>

#include <turbojpeg.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace cr2 {

namespace {

constexpr std::uint16_t TypeAscii = 2, TypeShort = 3, TypeLong = 4;

void Put16(Bytes &b, std::size_t at, std::uint32_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

void Put32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = std::uint8_t(v >> (8 * i));
}

struct Entry {
    std::uint16_t Tag;
    std::uint16_t Type;
    std::uint32_t Count;
    std::uint32_t Value; // inline value, or
    Bytes Data;          // out-of-line data when longer than 4 bytes
};

Entry Short(std::uint16_t tag, std::uint32_t v) {
    return {tag, TypeShort, 1, v, {}};
}
Entry Long(std::uint16_t tag, std::uint32_t v) {
    return {tag, TypeLong, 1, v, {}};
}
Entry Ascii(std::uint16_t tag, const std::string &s) {
    Bytes d(s.begin(), s.end());
    d.push_back(0);
    return {tag, TypeAscii, std::uint32_t(d.size()), 0, d};
}
Entry Shorts(std::uint16_t tag, std::initializer_list<std::uint16_t> values) {
    Bytes d;
    for (auto v : values) {
        d.push_back(std::uint8_t(v));
        d.push_back(std::uint8_t(v >> 8));
    }
    return {tag, TypeShort, std::uint32_t(values.size()), 0, d};
}

// Appends an IFD at the end of file and returns the position of its "next IFD" field.
std::size_t AppendIfd(Bytes &file, std::vector<Entry> entries) {
    const std::size_t start = file.size();
    const std::size_t tableSize = 2 + entries.size() * 12 + 4;
    file.resize(start + tableSize);
    Put16(file, start, std::uint32_t(entries.size()));
    std::size_t at = start + 2;
    for (auto &e : entries) {
        Put16(file, at, e.Tag);
        Put16(file, at + 2, e.Type);
        Put32(file, at + 4, e.Count);
        if (e.Data.size() > 4) {
            if (file.size() % 2)
                file.push_back(0);
            Put32(file, at + 8, std::uint32_t(file.size()));
            file.insert(file.end(), e.Data.begin(), e.Data.end());
        } else if (!e.Data.empty()) {
            std::memcpy(&file[at + 8], e.Data.data(), e.Data.size());
        } else if (e.Type == TypeShort) {
            Put16(file, at + 8, e.Value);
        } else {
            Put32(file, at + 8, e.Value);
        }
        at += 12;
    }
    Put32(file, at, 0);
    return at;
}

// SOI, one Huffman table, SOF3 (lossless, two components), SOS: what a Canon raw strip
// starts with.
Bytes LosslessJpegHeader(int width, int height) {
    const int components = 2;
    Bytes h = {0xFF, 0xD8};
    // DHT: class 0, id 0, one code of length 1 for the value 0.
    const std::uint8_t dht[] = {0xFF, 0xC4, 0x00, 0x14, 0x00, 1, 0, 0, 0, 0, 0,
                                0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0x00};
    h.insert(h.end(), std::begin(dht), std::end(dht));
    const int wide = width / components;
    const std::uint8_t sof[] = {0xFF,
                                0xC3,
                                0x00,
                                0x0E,
                                14,
                                std::uint8_t(height >> 8),
                                std::uint8_t(height),
                                std::uint8_t(wide >> 8),
                                std::uint8_t(wide),
                                components,
                                1,
                                0x11,
                                0,
                                2,
                                0x11,
                                0};
    h.insert(h.end(), std::begin(sof), std::end(sof));
    const std::uint8_t sos[] = {0xFF, 0xDA, 0x00, 0x0A, components, 1, 0x00, 2, 0x00, 1, 0, 0};
    h.insert(h.end(), std::begin(sos), std::end(sos));
    return h;
}

} // namespace

void JpegSize(const Bytes &jpeg, int &width, int &height) {
    tjhandle h = tjInitDecompress();
    int subsampling = 0, colorspace = 0;
    const int r = tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                                      &colorspace);
    tjDestroy(h);
    if (r != 0)
        throw std::runtime_error("not a JPEG picture");
}

Bytes BuildCr2(const Cr2Options &o) {
    int previewWidth = 0, previewHeight = 0;
    JpegSize(o.PreviewJpeg, previewWidth, previewHeight);

    Bytes file(16, 0);
    file[0] = 'I';
    file[1] = 'I';
    Put16(file, 2, 42);
    Put32(file, 4, 16);
    file[8] = 'C';
    file[9] = 'R';
    file[10] = 2; // version 2.0
    file[11] = 0;

    // Offsets of the strips are patched once the IFDs are laid out.
    const std::size_t ifd0Next =
        AppendIfd(file, {Short(0x100, previewWidth), Short(0x101, previewHeight),
                         Shorts(0x102, {8, 8, 8}), Short(0x103, 6), Ascii(0x10F, o.Make),
                         Ascii(0x110, o.Model), Long(0x111, 0), Short(0x112, o.Orientation),
                         Long(0x117, o.PreviewLengthClaim ? o.PreviewLengthClaim
                                                          : std::uint32_t(o.PreviewJpeg.size()))});
    const std::size_t previewOffsetField = 16 + 2 + 6 * 12 + 8;
    if (file.size() % 2)
        file.push_back(0);
    const std::size_t rawIfd = file.size();
    Put32(file, ifd0Next, std::uint32_t(rawIfd));
    Put32(file, 12, std::uint32_t(rawIfd));

    const Bytes ljpeg = LosslessJpegHeader(o.RawWidth, o.RawHeight);
    const std::size_t rawLength = ljpeg.size() + std::size_t(o.RawDataBytes) + 2;
    AppendIfd(file, {Short(0x103, 6), Long(0x111, 0), Long(0x117, std::uint32_t(rawLength)),
                     Shorts(0xC640, {1, std::uint16_t(o.RawWidth / 2),
                                     std::uint16_t(o.RawWidth - o.RawWidth / 2)})});
    const std::size_t rawOffsetField = rawIfd + 2 + 12 + 8;

    Put32(file, previewOffsetField, std::uint32_t(file.size()));
    file.insert(file.end(), o.PreviewJpeg.begin(), o.PreviewJpeg.end());

    Put32(file, rawOffsetField, std::uint32_t(file.size()));
    file.insert(file.end(), ljpeg.begin(), ljpeg.end());
    file.insert(file.end(), std::size_t(o.RawDataBytes), 0x55);
    file.push_back(0xFF);
    file.push_back(0xD9);
    return file;
}

void WriteCr2(const std::string &path, const Cr2Options &options) {
    const Bytes bytes = BuildCr2(options);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Rgb QuarterPicture(int width, int height) {
    Rgb p{width, height, Bytes(std::size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            std::uint8_t r = 0, g = 0, b = 0;
            if (!right && !bottom)
                r = 255;
            else if (right && !bottom)
                g = 255;
            else if (!right && bottom)
                b = 255;
            else
                r = g = b = 255;
            std::uint8_t *px = &p.Data[(std::size_t(y) * width + x) * 3];
            px[0] = r;
            px[1] = g;
            px[2] = b;
        }
    }
    return p;
}

Bytes EncodeJpeg(const Rgb &picture, int quality) {
    tjhandle h = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int r = tjCompress2(h, picture.Data.data(), picture.Width, 0, picture.Height, TJPF_RGB,
                              &out, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    tjDestroy(h);
    if (r != 0) {
        tjFree(out);
        throw std::runtime_error("cannot encode a JPEG picture");
    }
    Bytes result(out, out + size);
    tjFree(out);
    return result;
}

Rgb DecodeJpeg(const Bytes &jpeg) {
    Rgb p;
    JpegSize(jpeg, p.Width, p.Height);
    p.Data.resize(std::size_t(p.Width) * p.Height * 3);
    tjhandle h = tjInitDecompress();
    const int r = tjDecompress2(h, jpeg.data(), jpeg.size(), p.Data.data(), p.Width, 0, p.Height,
                                TJPF_RGB, TJFLAG_ACCURATEDCT);
    tjDestroy(h);
    if (r != 0)
        throw std::runtime_error("cannot decode a JPEG picture");
    return p;
}

namespace {

QImage PhotoImage(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Rgb photo = DecodeJpeg(source);
    return QImage(photo.Data.data(), photo.Width, photo.Height, photo.Width * 3,
                  QImage::Format_RGB888)
        .copy();
}

Bytes EncodeImage(const QImage &image, int quality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Rgb result{rgb.width(), rgb.height(), Bytes(std::size_t(rgb.width()) * rgb.height() * 3)};
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(&result.Data[std::size_t(y) * rgb.width() * 3], rgb.constScanLine(y),
                    std::size_t(rgb.width()) * 3);
    return EncodeJpeg(result, quality);
}

} // namespace

Bytes ScaledJpeg(const std::string &photoPath, int width, int height, int quality) {
    return EncodeImage(PhotoImage(photoPath).scaled(width, height, Qt::IgnoreAspectRatio,
                                                    Qt::SmoothTransformation),
                       quality);
}

Bytes MosaicJpeg(const std::vector<std::string> &photos, std::size_t first, int width, int height,
                 int quality) {
    const int qw = width / 2, qh = height / 2;
    QImage mosaic(width, height, QImage::Format_RGB888);
    mosaic.fill(Qt::black);
    for (int q = 0; q < 4; ++q) {
        const QImage filled =
            PhotoImage(photos[(first + std::size_t(q)) % photos.size()])
                .scaled(qw, qh, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        const QImage tile =
            filled.copy((filled.width() - qw) / 2, (filled.height() - qh) / 2, qw, qh)
                .convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < qh; ++y)
            std::memcpy(mosaic.scanLine((q / 2) * qh + y) + std::size_t(q % 2) * qw * 3,
                        tile.constScanLine(y), std::size_t(qw) * 3);
    }
    return EncodeImage(mosaic, quality);
}

} // namespace cr2
