// The work bound of JPEG decodes: what libjpeg's progress monitor counts, and the same count
// read from a file's markers for decoders without a monitor.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <csetjmp>
#include <fcntl.h>
#include <unistd.h>

#include "HostileJpeg.h"
#include "JpegCodec.h"
#include "JpegWork.h"
#include "TestUtil.h"

namespace {

struct Jump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void JumpOut(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Jump *>(cinfo->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

// A whole decode under the monitor, in a function of its own for the longjmp.
bool Decode(const std::vector<std::uint8_t> &jpeg, TJpegWorkLimit &work,
            jpeg_decompress_struct &cinfo, Jump &err) {
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JumpOut;
    err.pub.output_message = Quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    LimitJpegWork(cinfo, work);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * cinfo.output_components, 1);
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, row, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

std::int64_t MonitorCount(const std::vector<std::uint8_t> &jpeg, std::int64_t limit,
                          bool &finished) {
    TJpegWorkLimit work;
    work.limit = limit;
    jpeg_decompress_struct cinfo;
    Jump err;
    finished = Decode(jpeg, work, cinfo, err);
    return work.work;
}

std::int64_t FileCount(const std::vector<std::uint8_t> &jpeg, std::int64_t limit) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("x.jpg"), jpeg);
    const int fd = ::open(dir.file("x.jpg").c_str(), O_RDONLY | O_CLOEXEC);
    const std::int64_t work = JpegWorkOfFile(fd, limit);
    ::close(fd);
    return work;
}

} // namespace

TEST(JpegWork, ScansTimesBlocksCountedAlikeByTheMonitorAndFromTheMarkers) {
    // A greyscale picture of simple progression has six scans of its own; each visits every
    // 8 x 8 block once, and each scan's start costs as much as 256 block visits.
    struct Row {
        int size, extraScans;
    };
    for (const Row row : {Row{64, 0}, Row{100, 7}, Row{256, 300}, Row{1000, 40}}) {
        SCOPED_TRACE(std::to_string(row.size) + " px + " + std::to_string(row.extraScans));
        const auto jpeg = hostile::ManyScanJpeg(row.size, row.size, row.extraScans);
        const std::int64_t blocks = std::int64_t((row.size + 7) / 8) * ((row.size + 7) / 8);
        const std::int64_t expected = (6 + row.extraScans) * (256 + blocks);
        bool finished = false;
        EXPECT_EQ(MonitorCount(jpeg, MaxJpegWork, finished), expected);
        EXPECT_TRUE(finished);
        EXPECT_EQ(FileCount(jpeg, MaxJpegWork), expected);
    }
    // Colour pictures, sequential and progressive, subsampled chroma included.
    for (const char *name :
         {"jpg/bep_mushroom_progressive.jpg", "jpg/exiv2_exiv2-canon-eos-20d.jpg",
          "jpg/pillow_pil_sample_cmyk.jpg"}) {
        SCOPED_TRACE(name);
        const auto jpeg = testutil::ReadFile(testutil::Sample(name));
        bool finished = false;
        const std::int64_t monitored = MonitorCount(jpeg, MaxJpegWork, finished);
        EXPECT_TRUE(finished);
        EXPECT_GT(monitored, 0);
        EXPECT_EQ(FileCount(jpeg, MaxJpegWork), monitored);
    }
}

TEST(JpegWork, ADecodePastTheBoundStopsThere) {
    // 1024 blocks and 256 per scan start: 1280 per scan.
    const auto jpeg = hostile::ManyScanJpeg(256, 256, 100);
    bool finished = true;
    const std::int64_t counted = MonitorCount(jpeg, 10 * 1280 + 5, finished);
    EXPECT_FALSE(finished);
    EXPECT_GT(counted, 10 * 1280 + 5);
    EXPECT_LE(counted, 11 * 1280);
    EXPECT_GT(FileCount(jpeg, 10 * 1280 + 5), 10 * 1280 + 5);
    EXPECT_LE(FileCount(jpeg, 10 * 1280 + 5), 11 * 1280);
}

TEST(JpegWork, FilesThatAreNoJpegCountNothingAndCutFilesWhatTheyHave) {
    EXPECT_EQ(FileCount({}, MaxJpegWork), 0);
    EXPECT_EQ(FileCount({'G', 'I', 'F', '8'}, MaxJpegWork), 0);
    const auto jpeg = hostile::ManyScanJpeg(64, 64, 20);
    const std::int64_t whole = FileCount(jpeg, MaxJpegWork);
    for (std::size_t cut = 1; cut < jpeg.size(); cut += 97)
        EXPECT_LE(FileCount({jpeg.begin(), jpeg.begin() + long(cut)}, MaxJpegWork), whole);
}

TEST(JpegDecode, ScalesByTheDenominatorsLibjpegOffersAndIgnoresOthers) {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "JPG"));
    const auto *data = reinterpret_cast<const std::uint8_t *>(jpeg.constData());
    struct Row {
        int Denom;
        QSize Size;
    };
    for (const Row row :
         {Row{1, {64, 48}}, Row{2, {32, 24}}, Row{4, {16, 12}}, Row{8, {8, 6}}, Row{3, {64, 48}},
          Row{16, {64, 48}}, Row{0, {64, 48}}, Row{-2, {64, 48}}}) {
        SCOPED_TRACE(row.Denom);
        EXPECT_EQ(DecodeJpeg(data, std::size_t(jpeg.size()), row.Denom).size(), row.Size);
    }
}
