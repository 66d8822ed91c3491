// Thumbnails of the shared sample files, one test per file so that every failing file is
// named: valid pictures of every listed type come out in their shape, damaged and hostile ones
// fail quietly and are marked. A binary of its own, run in two shards beside the other tests.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ShellExtract.h"
#include "ShellObjHelper.h"
#include "TestUtil.h"

namespace {

struct Result {
    bool Made = false;
    QImage Image;
};

Result Thumb(const std::string &path) {
    Result r;
    ComPtr<IExtractImage> extractor;
    if (!GetExtractImageForFile(path, extractor))
        return r;
    ComPtr<IRunnableTask> task;
    std::unique_ptr<TBitmap> bitmap;
    DWORD flags = 0;
    r.Made = GetThumbnailBitmap(extractor.Get(), 120, 120, 32, flags, task, bitmap);
    if (bitmap)
        r.Image = bitmap->Image();
    return r;
}

// The pixel sizes MANIFEST.tsv gives the samples ("ImageSize=WxH" in their summary), by path.
const std::map<std::string, QSize> &ManifestSizes() {
    static const std::map<std::string, QSize> sizes = [] {
        std::map<std::string, QSize> out;
        std::ifstream in(testutil::Sample("MANIFEST.tsv"));
        const std::regex imageSize("ImageSize=([0-9]+)x([0-9]+)");
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            // Hostile files announce sizes beyond int; those are left unchecked.
            if (std::regex_search(line, m, imageSize) && m[1].length() < 9 && m[2].length() < 9)
                out[line.substr(0, line.find('\t'))] = QSize(std::stoi(m[1]), std::stoi(m[2]));
        }
        return out;
    }();
    return sizes;
}

// Whether thumb is picture (either way round: EXIF may turn it) fitted into a square box: both
// sides scaled by the same factor, the longer side filling the box unless it is smaller, each
// to within a pixel of rounding.
bool FitsLike(QSize thumb, QSize picture, int box) {
    auto fits = [&](double w, double h) {
        const double scale = std::min(1.0, box / std::max(w, h));
        return std::abs(thumb.width() - std::max(1.0, w * scale)) <= 1.0 &&
               std::abs(thumb.height() - std::max(1.0, h * scale)) <= 1.0;
    };
    return fits(picture.width(), picture.height()) || fits(picture.height(), picture.width());
}

// Valid samples the picture readers cannot read today, each with its reason. A reader that
// learns one turns the test red, so the list stays true.
const std::set<std::string> UnreadableSamples = {
    "bmp/fp_offset_pixarray.bmp",                         // pixels at an unusual offset, alpha mask
    "bmp/oiio_gracehopper.bmp",                           // 32-bit with alpha mask
    "bmp/pillow_bmpsuite_g_pal8topdown.bmp",              // top-down rows
    "bmp/pillow_bmpsuite_q_pal2.bmp",                     // 2-bit palette
    "bmp/pillow_bmpsuite_q_rgb24jpeg.bmp",                // JPEG inside BMP
    "bmp/pillow_bmpsuite_q_rgb24png.bmp",                 // PNG inside BMP
    "bmp/vips_small_topdown32.bmp",                       // top-down rows
    "tif/fp_IMG_9266_16b_cmyk_le_interleaved.tif",        // 16-bit CMYK
    "tif/oiio_libtiffpic_caspian.tif",                    // 64-bit floating point samples
    "tif/oiio_libtiffpic_depth_flower-rgb-contig-32.tif", // 32-bit integer samples
    "tif/oiio_libtiffpic_text.tif",                       // thunderscan compression
    "tif/pillow_10ct_32bit_128.tiff",                     // 32-bit samples
    "tif/pillow_12bit.cropped.tif",                       // 12-bit samples
    "tif/pillow_tiff_16bit_RGB.tiff",                     // 16-bit RGB, planar
    "wmf/wmf2svg_fulltest.wmf",                           // records the renderer rejects
};

// The files below the sample folders, as "folder/name"; none when the samples are missing.
std::vector<std::string> SampleFiles(const std::vector<std::string> &folders) {
    std::vector<std::string> files;
    if (!testutil::HaveSamples())
        return files;
    for (const std::string &folder : folders)
        for (const auto &entry : std::filesystem::directory_iterator(testutil::Sample(folder)))
            files.push_back(folder + "/" + entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string TestName(const testing::TestParamInfo<std::string> &info) {
    std::string name = info.param;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class SampleThumbnail : public testing::TestWithParam<std::string> {
protected:
    SampleThumbnail() { qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(Cache.path())); }
    ~SampleThumbnail() override {
        qunsetenv("XDG_CACHE_HOME");
        SetExtractionBudget(std::chrono::milliseconds(DefaultExtractionBudgetMs));
    }
    testutil::TempDir Cache;
};

using PictureSample = SampleThumbnail;
using OddSample = SampleThumbnail;

} // namespace

TEST_P(PictureSample, GivesAThumbnailOfItsShape) {
    // Shapes, not speed: one metafile of symbol fonts takes longer than the budget to draw.
    SetExtractionBudget(std::chrono::hours(1));
    const std::string &file = GetParam();
    const Result r = Thumb(testutil::Sample(file));
    if (UnreadableSamples.count(file)) {
        EXPECT_FALSE(r.Made);
        return;
    }
    ASSERT_TRUE(r.Made);
    EXPECT_LE(r.Image.width(), 120);
    EXPECT_LE(r.Image.height(), 120);
    // The metafiles have no size in the manifest (it depends on the renderer), and one
    // bitmap's entry gives a height of 0.
    const auto size = ManifestSizes().find(file);
    if (size != ManifestSizes().end() && !size->second.isEmpty()) {
        EXPECT_TRUE(FitsLike(r.Image.size(), size->second, 120))
            << r.Image.width() << "x" << r.Image.height() << " for " << size->second.width() << "x"
            << size->second.height();
    }
}

TEST_P(OddSample, FailsQuietlyOrShowsWhatItAnnounces) {
    const std::string path = testutil::Sample(GetParam());
    ComPtr<IExtractImage> extractor;
    const bool picture = GetExtractImageForFile(path, extractor);
    const Result r = Thumb(path);
    if (r.Made) {
        const auto size = ManifestSizes().find(GetParam());
        if (size != ManifestSizes().end()) {
            EXPECT_TRUE(FitsLike(r.Image.size(), size->second, 120))
                << r.Image.width() << "x" << r.Image.height();
        }
        EXPECT_TRUE(testutil::FileExists(ThumbnailCachePath(path, false)));
    } else if (picture) {
        // A picture that cannot be read is marked, so it is not tried again, and nothing is
        // kept in its place.
        EXPECT_TRUE(testutil::FileExists(ThumbnailFailPath(path)));
        EXPECT_FALSE(testutil::FileExists(ThumbnailCachePath(path, false)));
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, PictureSample,
                         testing::ValuesIn(SampleFiles({"jpg", "png", "gif", "bmp", "tif", "wmf"})),
                         TestName);
INSTANTIATE_TEST_SUITE_P(Samples, OddSample, testing::ValuesIn(SampleFiles({"odd"})), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PictureSample);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(OddSample);

TEST_F(SampleThumbnail, TheManifestIsReadAndNamesDecideNothing) {
    PIXAVANT_REQUIRE_SAMPLES();
    EXPECT_GT(ManifestSizes().size(), 200u);
    // Pictures behind the wrong extension are still pictures; empty files are not.
    EXPECT_TRUE(Thumb(testutil::Sample("odd/gwenview_png-with-jpeg-extension.jpg")).Made);
    EXPECT_TRUE(Thumb(testutil::Sample("odd/gwenview_jpg-with-gif-extension.gif")).Made);
    EXPECT_FALSE(Thumb(testutil::Sample("odd/gwenview_empty.png")).Made);
}
