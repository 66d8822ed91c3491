// libjpeg's memory destination, as the RAW preview encoder uses it. Once the buffer has grown,
// the pointer the caller handed in still names the first block, which libjpeg has already
// freed, until the encode finishes: an error path that freed that pointer would free it twice.
// So the encoders hand in a buffer large enough never to grow.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "JpegError.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define PIXAVANT_ASAN 1
#endif

namespace {

constexpr int Side = 256;

std::vector<std::uint8_t> Noise() {
    std::vector<std::uint8_t> rgb(std::size_t(Side) * Side * 3);
    std::uint32_t state = 12345;
    for (std::uint8_t &b : rgb) {
        state = state * 1664525u + 1013904223u;
        b = std::uint8_t(state >> 24);
    }
    return rgb;
}

bool Inside(const void *p, const void *block, std::size_t size) {
    const auto a = reinterpret_cast<std::uintptr_t>(p), b = reinterpret_cast<std::uintptr_t>(block);
    return a >= b && a <= b + size;
}

// Starts the encode at quality 100 and writes every row, leaving it unfinished.
void WriteAllRows(jpeg_compress_struct &cinfo, const std::vector<std::uint8_t> &rgb) {
    cinfo.image_width = cinfo.image_height = Side;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[std::size_t(cinfo.next_scanline) * Side * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
}

} // namespace

TEST(JpegMemoryDestination, TheCallersPointerIsStaleOnceTheBufferGrew) {
    const std::vector<std::uint8_t> rgb = Noise();
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    InstallJpegErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        FAIL() << "libjpeg error " << err.pub.msg_code;
    }
    jpeg_create_compress(&cinfo);
    unsigned char *memory = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &memory, &size);
    unsigned char *const first = memory;
    ASSERT_NE(first, nullptr);
    WriteAllRows(cinfo, rgb);
    // Noise at quality 100 is far larger than the first 4 KiB block: the output moved on ...
    EXPECT_FALSE(Inside(cinfo.dest->next_output_byte, first, 4096));
    // ... while the caller's pointer still names the first block ...
    EXPECT_EQ(memory, first);
#ifdef PIXAVANT_ASAN
    // ... which is already freed.
    EXPECT_TRUE(__asan_address_is_poisoned(first));
#endif
    jpeg_finish_compress(&cinfo);
    EXPECT_NE(memory, first); // only finishing hands the live buffer back
    EXPECT_GT(size, 4096u);
    jpeg_destroy_compress(&cinfo);
    std::free(memory);
}

TEST(JpegMemoryDestination, ABufferWithRoomIsNeverReplaced) {
    const std::vector<std::uint8_t> rgb = Noise();
    // The encoders' worst case: six bytes a pixel of the size padded to whole blocks.
    std::vector<unsigned char> buffer(std::size_t(Side) * Side * 6 + 4096);
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    InstallJpegErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        FAIL() << "libjpeg error " << err.pub.msg_code;
    }
    jpeg_create_compress(&cinfo);
    unsigned char *memory = buffer.data();
    unsigned long size = buffer.size();
    jpeg_mem_dest(&cinfo, &memory, &size);
    WriteAllRows(cinfo, rgb);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    EXPECT_EQ(memory, buffer.data());
    EXPECT_LT(size, buffer.size());
}
