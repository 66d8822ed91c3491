#include "HostileJpeg.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace hostile {

namespace {

std::vector<std::uint8_t> ProgressiveGradient(int width, int height) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err); // a failure here is a broken test: libjpeg exits
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            row[std::size_t(x)] = JSAMPLE((x + int(cinfo.next_scanline)) & 0xFF);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Entropy-coded bits, with a 0x00 stuffed after every 0xFF byte and 1-bits padding the end.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t> &out) : FOut(out) {}
    void Put(std::uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            FByte = std::uint8_t(FByte << 1 | ((bits >> i) & 1));
            if (++FCount == 8)
                Flush();
        }
    }
    void Finish() {
        while (FCount != 0)
            Put(1, 1);
    }

private:
    void Flush() {
        FOut.push_back(FByte);
        if (FByte == 0xFF)
            FOut.push_back(0x00);
        FByte = 0;
        FCount = 0;
    }
    std::vector<std::uint8_t> &FOut;
    std::uint8_t FByte = 0;
    int FCount = 0;
};

} // namespace

std::vector<std::uint8_t> ManyScanJpeg(int width, int height, int emptyScans) {
    std::vector<std::uint8_t> jpeg = ProgressiveGradient(width, height);
    if (jpeg.size() < 4 || jpeg[jpeg.size() - 2] != 0xFF || jpeg.back() != 0xD9)
        throw std::runtime_error("libjpeg wrote no end marker");
    jpeg.resize(jpeg.size() - 2);

    // AC table 1: the single symbol 0xE0 (a run of 2^14 + 14 more bits of blocks that end at
    // once), coded as the bit 0.
    const std::uint8_t dht[] = {0xFF, 0xC4, 0x00, 0x14, 0x11, 1, 0, 0, 0, 0, 0,
                                0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0xE0};
    jpeg.insert(jpeg.end(), std::begin(dht), std::end(dht));
    const long blocks = long((width + 7) / 8) * ((height + 7) / 8);
    for (int scan = 0; scan < emptyScans; ++scan) {
        // Component 1, DC table 0, AC table 1, coefficients 1 to 63, no approximation.
        const std::uint8_t sos[] = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0x01, 1, 63, 0x00};
        jpeg.insert(jpeg.end(), std::begin(sos), std::end(sos));
        BitWriter bits(jpeg);
        for (long left = blocks; left > 0; left -= 32767)
            bits.Put(0x7FFF, 15); // the code 0, then 14 one-bits: a run of 32767 blocks
        bits.Finish();
    }
    jpeg.push_back(0xFF);
    jpeg.push_back(0xD9);
    return jpeg;
}

} // namespace hostile
