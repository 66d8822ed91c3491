#include "JpegTestUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace jpegtest {
namespace {

// Failures in these helpers are faults of the test itself; they abort loudly.
void Fail(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::fprintf(stderr, "test JPEG helper: %s\n", text);
    std::abort();
}

std::uint8_t Noise(int x, int y, int c) {
    std::uint32_t h =
        std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u ^ std::uint32_t(c) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return std::uint8_t(h >> 24);
}

std::vector<std::uint8_t> Encode(int width, int height, const MakeOptions &o,
                                 const std::vector<std::uint8_t> &pixels) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = Fail;
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = o.components;
    cinfo.in_color_space = o.components == 1   ? JCS_GRAYSCALE
                           : o.components == 4 ? JCS_CMYK
                                               : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.components == 3) {
        cinfo.comp_info[0].h_samp_factor = o.hSample;
        cinfo.comp_info[0].v_samp_factor = o.vSample;
    } else if (o.components == 4) {
        cinfo.write_Adobe_marker = TRUE;
    }
    cinfo.restart_in_rows = o.restartRows;
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = std::size_t(width) * std::size_t(o.components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> result(out, out + outSize);
    std::free(out);
    return result;
}

// libjpeg's standard luminance table, in zigzag order as jcparam.c keeps it (natural order).
const unsigned StdLuminance[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                   58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                   22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                   77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                   103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};

} // namespace

std::vector<std::uint8_t> MakeJpeg(int width, int height, const MakeOptions &options) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * options.components);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < options.components; ++c)
                pixels[i++] = std::uint8_t((x * 255 / std::max(width - 1, 1) * (c + 1) +
                                            y * 255 / std::max(height - 1, 1) * (3 - c % 3)) /
                                               4 +
                                           Noise(x, y, c) / 2);
    return Encode(width, height, options, pixels);
}

std::vector<std::uint8_t> MakeFlatJpeg(int width, int height, int r, int g, int b) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 3);
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = std::uint8_t(r);
        pixels[i + 1] = std::uint8_t(g);
        pixels[i + 2] = std::uint8_t(b);
    }
    MakeOptions o;
    o.quality = 95;
    return Encode(width, height, o, pixels);
}

JpegFacts ReadFacts(const std::vector<std::uint8_t> &jpeg) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = Fail;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    JpegFacts facts;
    facts.width = int(cinfo.image_width);
    facts.height = int(cinfo.image_height);
    facts.components = cinfo.num_components;
    facts.progressive = cinfo.progressive_mode;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        facts.comments.emplace_back(reinterpret_cast<const char *>(m->data), m->data_length);
    const JQUANT_TBL *table = cinfo.quant_tbl_ptrs[0];
    for (int q = 1; q <= 100 && table; ++q) {
        const long scale = q < 50 ? 5000 / q : 200 - q * 2;
        bool same = true;
        for (int i = 0; i < 64 && same; ++i) {
            long v = (long(StdLuminance[i]) * scale + 50) / 100;
            v = std::clamp(v, 1L, 255L);
            same = table->quantval[i] == v;
        }
        if (same)
            facts.quality = q;
    }
    jpeg_destroy_decompress(&cinfo);
    return facts;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t> &bytes, std::size_t size) {
    return {bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(size, bytes.size()))};
}

} // namespace jpegtest
