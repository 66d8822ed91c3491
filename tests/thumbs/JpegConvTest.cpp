// The thumbnail conversion: geometry, sampling against a full decode, the encoded result, and
// bad input.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include <jpeglib.h>
#include <jerror.h>

#include <sstream>

#include "Exceptions.h"
#include "JpegCodec.h"
#include "JpegConv.h"
#include "JpegTestUtil.h"
#include "TestUtil.h"

using namespace jpegtest;
using testutil::Sample;

namespace {

std::vector<std::uint8_t> Thumb(const std::vector<std::uint8_t> &jpeg, int w, int h,
                                TColor fill = clWhite)
{
    std::istringstream in(std::string(jpeg.begin(), jpeg.end()));
    std::ostringstream out;
    MakeThumbnail(in, out, w, h, fill);
    const std::string s = out.str();
    return {s.begin(), s.end()};
}

QImage Render(const std::vector<std::uint8_t> &jpeg, int w, int h, TRowAccess access,
              TColor fill = clWhite)
{
    return RenderThumbnail(jpeg.data(), jpeg.size(), w, h, fill, access);
}

// The reference: the whole picture decoded, then each drawn pixel taken from it.
QImage Reference(const std::vector<std::uint8_t> &jpeg, int w, int h, TColor fill)
{
    const QImage full = DecodeJpeg(jpeg.data(), jpeg.size());
    const TThumbPlacement p = ThumbnailPlacement(full.width(), full.height(), w, h);
    QImage out(w, h, QImage::Format_RGB888);
    out.fill(ToQColor(fill));
    for (int y = std::max(p.Y, 0); y < std::min(p.Y + p.DrawH, h); ++y) {
        const auto *src = reinterpret_cast<const QRgb *>(
            full.constScanLine(NearestSource(y - p.Y, p.DrawH, full.height())));
        std::uint8_t *dst = out.scanLine(y);
        for (int x = std::max(p.X, 0); x < std::min(p.X + p.DrawW, w); ++x) {
            const QRgb px = src[NearestSource(x - p.X, p.DrawW, full.width())];
            dst[x * 3] = std::uint8_t(qRed(px));
            dst[x * 3 + 1] = std::uint8_t(qGreen(px));
            dst[x * 3 + 2] = std::uint8_t(qBlue(px));
        }
    }
    return out;
}

// A bitmap, or the message of what was raised instead.
struct Outcome {
    QImage image;
    std::string error;
    bool operator==(const Outcome &) const = default;
};
template <class F> Outcome Try(F &&f)
{
    try {
        return {f(), {}};
    } catch (const Exception &e) {
        return {{}, e.Message()};
    }
}
void PrintTo(const Outcome &o, std::ostream *os)
{
    *os << (o.error.empty() ? "a bitmap" : o.error);
}

// Entropy-coded data overwritten in the middle: the decoder warns and resynchronises.
std::vector<std::uint8_t> Corrupt(std::vector<std::uint8_t> jpeg)
{
    for (std::size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 40; ++i)
        jpeg[i] = std::uint8_t(jpeg[i] ^ 0x5A);
    return jpeg;
}

std::string JpegMessage(int code)
{
    return "JPEG error #" + std::to_string(code);
}

template <class E, class F> std::string MessageOf(F &&f)
{
    try {
        f();
    } catch (const E &e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace

TEST(ThumbnailGeometry, FitsByTheLongerSideRoundingHalvesToEvenAndHalvingTowardZero)
{
    struct Case {
        int pw, ph, w, h;
        TThumbPlacement expected;
    } cases[] = {
        {3000, 2000, 150, 100, {150, 100, 0, 0}},
        {2000, 3000, 150, 100, {67, 100, 41, 0}},  // 66.67 rounds up, bands 41 and 42 wide
        {1000, 1000, 150, 100, {100, 100, 25, 0}}, // square counts as tall
        {3000, 2000, 100, 100, {100, 67, 0, 16}},  // 33 div 2
        {4000, 1000, 100, 200, {100, 25, 0, 87}},
        {2000, 1000, 300, 100, {300, 150, 0, -25}}, // overhang cut off evenly
        {2000, 1000, 302, 100, {302, 151, 0, -25}}, // -51 div 2 is -25, not -26
        {2000, 1000, 5, 5, {5, 2, 0, 1}},           // 2.5 rounds to 2
        {2000, 1000, 7, 7, {7, 4, 0, 1}},           // 3.5 rounds to 4
        {1000, 2000, 5, 5, {2, 5, 1, 0}},
        {65500, 1, 150, 100, {150, 0, 0, 50}},      // too thin to draw
        {1, 65500, 150, 100, {0, 100, 75, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.pw) + "x" + std::to_string(c.ph) + " into " +
                     std::to_string(c.w) + "x" + std::to_string(c.h));
        const TThumbPlacement p = ThumbnailPlacement(c.pw, c.ph, c.w, c.h);
        EXPECT_EQ(p.DrawW, c.expected.DrawW);
        EXPECT_EQ(p.DrawH, c.expected.DrawH);
        EXPECT_EQ(p.X, c.expected.X);
        EXPECT_EQ(p.Y, c.expected.Y);
    }
}

TEST(ThumbnailGeometry, NearestSourceTakesThePixelUnderTheCentre)
{
    EXPECT_EQ(NearestSource(0, 150, 3000), 10);
    EXPECT_EQ(NearestSource(149, 150, 3000), 2990);
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(NearestSource(d, 7, 7), d);
    const int doubled[] = {0, 0, 1, 1, 2, 2};
    for (int d = 0; d < 6; ++d)
        EXPECT_EQ(NearestSource(d, 6, 3), doubled[d]);
    EXPECT_EQ(NearestSource(99, 100, 65500), 65172);
}

TEST(ThumbnailBitmap, FillBandsAroundATallPictureAndTheOverhangCutOff)
{
    const auto blue = MakeFlatJpeg(200, 300, 0, 0, 255);
    const QImage tall = Render(blue, 150, 100, TRowAccess::WhereIdentical, clRed);
    const QRgb red = qRgb(255, 0, 0);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 150; ++x) {
            const bool band = x < 41 || x >= 108;
            const QRgb px = tall.pixel(x, y);
            if (band)
                ASSERT_EQ(px, red) << x << "," << y;
            else
                ASSERT_GT(qBlue(px), 240) << x << "," << y;
        }
    }
    // A wide picture in a box too flat for it: rows 25..174 of the drawn 300 x 150 are shown.
    const auto wide = MakeJpeg(200, 100);
    EXPECT_EQ(Render(wide, 300, 100, TRowAccess::WhereIdentical),
              Reference(wide, 300, 100, clWhite));
}

// Skipping the rows the stretch never samples must not change a single pixel.
TEST(ThumbnailBitmap, SkippingRowsGivesTheFullDecodesPixels)
{
    struct Kind {
        const char *name;
        MakeOptions options;
    };
    std::vector<Kind> kinds;
    for (bool progressive : {false, true}) {
        const auto add = [&](const char *name, int comps, int h, int v) {
            MakeOptions o;
            o.components = comps;
            o.hSample = h;
            o.vSample = v;
            o.progressive = progressive;
            kinds.push_back({name, o});
        };
        add("4:2:0", 3, 2, 2);
        add("4:2:2", 3, 2, 1);
        add("4:4:0", 3, 1, 2);
        add("4:4:4", 3, 1, 1);
        add("grey", 1, 1, 1);
        add("cmyk", 4, 1, 1);
    }
    MakeOptions restarts;
    restarts.restartRows = 3;
    kinds.push_back({"4:2:0 with restart markers", restarts});

    const std::pair<int, int> boxes[] = {{150, 100}, {100, 150}, {37, 300}, {800, 700}};
    for (const Kind &kind : kinds) {
        for (const auto &[pw, ph] : {std::pair{603, 397}, std::pair{171, 501}}) {
            const auto whole = MakeJpeg(pw, ph, kind.options);
            // Truncated data decodes too (grey below the cut), and progressive files are then
            // block-smoothed; corrupt data makes the decoder resynchronise.
            for (const auto &jpeg : {whole, Slice(whole, whole.size() * 3 / 5), Corrupt(whole)}) {
                for (const auto &[w, h] : boxes) {
                    SCOPED_TRACE(std::string(kind.name) + (kind.options.progressive ? " progressive " : " ") +
                                 std::to_string(pw) + "x" + std::to_string(ph) + " (" +
                                 std::to_string(jpeg.size()) + " bytes) into " +
                                 std::to_string(w) + "x" + std::to_string(h));
                    const TColor fill = 0x00336699;
                    const Outcome skipped =
                        Try([&] { return Render(jpeg, w, h, TRowAccess::WhereIdentical, fill); });
                    EXPECT_EQ(skipped,
                              Try([&] { return Render(jpeg, w, h, TRowAccess::DecodeAll, fill); }));
                    EXPECT_EQ(skipped, Try([&] { return Reference(jpeg, w, h, fill); }));
                }
            }
        }
    }
}

TEST(ThumbnailBitmap, SkippingRowsGivesTheFullDecodesPixelsOnRealAndDamagedPictures)
{
    std::vector<std::string> files;
    for (const char *folder : {"jpg", "odd"}) {
        const QStringList names = QDir(QString::fromStdString(Sample(folder)))
                                      .entryList({"*.jpg", "*.jpeg"}, QDir::Files, QDir::Name);
        for (const QString &name : names)
            files.push_back(std::string(folder) + "/" + name.toStdString());
    }
    ASSERT_GT(files.size(), 60u);
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        const auto jpeg = testutil::ReadFile(Sample(file));
        if (jpeg.empty())
            continue;
        for (const auto &[w, h] : {std::pair{150, 100}, std::pair{90, 160}}) {
            const Outcome skipped =
                Try([&] { return Render(jpeg, w, h, TRowAccess::WhereIdentical); });
            EXPECT_EQ(skipped, Try([&] { return Render(jpeg, w, h, TRowAccess::DecodeAll); }));
            EXPECT_EQ(skipped, Try([&] { return Reference(jpeg, w, h, clWhite); }));
        }
    }
}
