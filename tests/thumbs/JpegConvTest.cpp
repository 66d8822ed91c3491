// The thumbnail conversion: geometry, sampling against a full decode, the encoded result, and
// bad input.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>

#include <QDir>
#include <QImage>

#include <jerror.h>
#include <jpeglib.h>

#include <sstream>

#include "Exceptions.h"
#include "HostileJpeg.h"
#include "JpegCodec.h"
#include "JpegConv.h"
#include "JpegTestUtil.h"
#include "TestUtil.h"

using namespace jpegtest;
using testutil::Sample;

namespace {

std::vector<std::uint8_t> Thumb(const std::vector<std::uint8_t> &jpeg, int w, int h,
                                TColor fill = clWhite) {
    std::istringstream in(std::string(jpeg.begin(), jpeg.end()));
    std::ostringstream out;
    MakeThumbnail(in, out, w, h, fill);
    const std::string s = out.str();
    return {s.begin(), s.end()};
}

QImage Render(const std::vector<std::uint8_t> &jpeg, int w, int h, TRowAccess access,
              TColor fill = clWhite) {
    return RenderThumbnail(jpeg.data(), jpeg.size(), w, h, fill, access);
}

// The reference: the whole picture decoded, then each drawn pixel taken from it.
QImage Reference(const std::vector<std::uint8_t> &jpeg, int w, int h, TColor fill) {
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
template <class F> Outcome Try(F &&f) {
    try {
        return {f(), {}};
    } catch (const Exception &e) {
        return {{}, e.Message()};
    }
}
void PrintTo(const Outcome &o, std::ostream *os) {
    *os << (o.error.empty() ? "a bitmap" : o.error);
}

// Entropy-coded data overwritten in the middle: the decoder warns and resynchronises.
std::vector<std::uint8_t> Corrupt(std::vector<std::uint8_t> jpeg) {
    for (std::size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 40; ++i)
        jpeg[i] = std::uint8_t(jpeg[i] ^ 0x5A);
    return jpeg;
}

std::string JpegMessage(int code) {
    return "JPEG error #" + std::to_string(code);
}

template <class E, class F> std::string MessageOf(F &&f) {
    try {
        f();
    } catch (const E &e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace

TEST(ThumbnailGeometry, FitsByTheLongerSideRoundingHalvesToEvenAndHalvingTowardZero) {
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
        {65500, 1, 150, 100, {150, 0, 0, 50}}, // too thin to draw
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

// Expected sizes worked out with exact fractions: the ratio rounded to a double, the quotient
// (or product) rounded to a 64-bit significand, then to the nearest integer with halves to even.
// The rows marked "double" come out one pixel different in plain double arithmetic.
TEST(ThumbnailGeometry, QuotientIsTakenInExtendedPrecisionBeforeRounding) {
    struct Case {
        int pw, ph, w, h;
        TThumbPlacement expected;
    } cases[] = {
        {4000, 3000, 150, 100, {150, 113, 0, -6}}, // double: 112.5 exactly, 112
        {1600, 1200, 150, 100, {150, 113, 0, -6}}, // the same shape from a compact camera
        {3000, 2000, 150, 100, {150, 100, 0, 0}},     {1920, 1080, 150, 100, {150, 84, 0, 8}},
        {1, 200, 150, 100, {1, 100, 74, 0}}, // double: 0.5 exactly, no column at all
        {3, 600, 150, 100, {1, 100, 74, 0}}, // double: likewise
        {200, 1, 150, 100, {150, 1, 0, 49}},          {1, 1, 150, 100, {100, 100, 25, 0}},
        {12, 5, 150, 100, {150, 63, 0, 18}},          // double: 62
        {20, 9, 150, 100, {150, 67, 0, 16}},          // double: 68, just below the half here
        {20, 17, 150, 100, {150, 127, 0, -13}},       // double: 128
        {16, 15, 120, 120, {120, 113, 0, 3}},         // double: 112
        {16, 5, 120, 120, {120, 37, 0, 41}},          // double: 38
        {1600, 900, 1000, 1000, {1000, 563, 0, 218}}, // double: 562
        {11, 12, 100, 150, {137, 150, -18, 0}},       // double: 138, tall picture, product
        {17, 20, 100, 150, {127, 150, -13, 0}},       // double: 128
        {3, 4, 150, 100, {75, 100, 37, 0}},           {9, 16, 150, 100, {56, 100, 47, 0}},
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

TEST(ThumbnailGeometry, NearestSourceTakesThePixelUnderTheCentre) {
    EXPECT_EQ(NearestSource(0, 150, 3000), 10);
    EXPECT_EQ(NearestSource(149, 150, 3000), 2990);
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(NearestSource(d, 7, 7), d);
    const int doubled[] = {0, 0, 1, 1, 2, 2};
    for (int d = 0; d < 6; ++d)
        EXPECT_EQ(NearestSource(d, 6, 3), doubled[d]);
    EXPECT_EQ(NearestSource(99, 100, 65500), 65172);
}

TEST(ThumbnailBitmap, FillBandsAroundATallPictureAndTheOverhangCutOff) {
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

TEST(ThumbnailBitmap, AThinTallPictureKeepsItsOneColumn) {
    // 3 x 600 into 150 x 100: 100 x 0.005 is just above one half in extended precision.
    const QImage thin =
        Render(MakeFlatJpeg(3, 600, 0, 0, 255), 150, 100, TRowAccess::WhereIdentical, clRed);
    for (int y = 0; y < 100; ++y) {
        ASSERT_EQ(thin.pixel(73, y), qRgb(255, 0, 0)) << y;
        ASSERT_GT(qBlue(thin.pixel(74, y)), 240) << y;
        ASSERT_EQ(thin.pixel(75, y), qRgb(255, 0, 0)) << y;
    }
}

// Skipping the rows the stretch never samples must not change a single pixel.
TEST(ThumbnailBitmap, SkippingRowsGivesTheFullDecodesPixels) {
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
                    SCOPED_TRACE(std::string(kind.name) +
                                 (kind.options.progressive ? " progressive " : " ") +
                                 std::to_string(pw) + "x" + std::to_string(ph) + " (" +
                                 std::to_string(jpeg.size()) + " bytes) into " + std::to_string(w) +
                                 "x" + std::to_string(h));
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

TEST(ThumbnailBitmap, SkippingRowsGivesTheFullDecodesPixelsOnRealAndDamagedPictures) {
    PIXAVANT_REQUIRE_SAMPLES();
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

TEST(ThumbnailFile, IsABaselineOrProgressiveJpegLikeItsSourceAtQuality90WithOurComment) {
    PIXAVANT_REQUIRE_SAMPLES();
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "sequential");
        MakeOptions o;
        o.progressive = progressive;
        const JpegFacts facts = ReadFacts(Thumb(MakeJpeg(640, 480, o), 150, 100));
        EXPECT_EQ(facts.width, 150);
        EXPECT_EQ(facts.height, 100);
        EXPECT_EQ(facts.components, 3);
        EXPECT_EQ(facts.progressive, progressive);
        EXPECT_EQ(facts.quality, 90);
        // The very text: thumbnails written by every earlier run carry it.
        EXPECT_EQ(facts.comments, std::vector<std::string>{"Pixavant thumbnail"});
    }
    // A real progressive camera file and a greyscale one (the thumbnail is in colour).
    const JpegFacts p = ReadFacts(
        Thumb(testutil::ReadFile(Sample("jpg/exiv2_exiv2-bug876_progressive.jpg")), 80, 80));
    EXPECT_TRUE(p.progressive);
    EXPECT_EQ(p.width, 80);
    const JpegFacts g =
        ReadFacts(Thumb(testutil::ReadFile(Sample("jpg/pillow_hopper_gray.jpg")), 150, 100));
    EXPECT_EQ(g.components, 3);
    EXPECT_FALSE(g.progressive);
}

TEST(ThumbnailFile, CmykPicturesKeepTheirColours) {
    PIXAVANT_REQUIRE_SAMPLES();
    const auto decode = [](const std::vector<std::uint8_t> &jpeg) {
        return DecodeJpeg(jpeg.data(), jpeg.size());
    };
    const QImage fromCmyk =
        decode(Thumb(testutil::ReadFile(Sample("jpg/pillow_pil_sample_cmyk.jpg")), 100, 100));
    const QImage fromRgb =
        decode(Thumb(testutil::ReadFile(Sample("jpg/pillow_pil_sample_rgb.jpg")), 100, 100));
    double difference = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const QRgb a = fromCmyk.pixel(x, y), b = fromRgb.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b));
        }
    EXPECT_LT(difference / (100 * 100 * 3), 12.0);
}

TEST(ThumbnailFile, ReadsTheSourceFromItsPositionAndWritesTheResultInOneWrite) {
    const auto jpeg = MakeJpeg(64, 48);
    std::istringstream in("not a picture" + std::string(jpeg.begin(), jpeg.end()));
    in.seekg(13);
    struct CountingBuf : std::stringbuf {
        int writes = 0;
        bool inside = false;
        std::streamsize xsputn(const char *s, std::streamsize n) override {
            ++writes;
            inside = true;
            const std::streamsize done = std::stringbuf::xsputn(s, n);
            inside = false;
            return done;
        }
        int_type overflow(int_type c) override {
            writes += inside ? 0 : 1;
            return std::stringbuf::overflow(c);
        }
    } buf;
    std::ostream out(&buf);
    MakeThumbnail(in, out, 32, 32, clWhite);
    EXPECT_EQ(buf.writes, 1);
    const std::string bytes = buf.str();
    EXPECT_EQ(ReadFacts({bytes.begin(), bytes.end()}).width, 32);
}

TEST(ThumbnailFile, AStaleInterruptionIsNotTakenForOneAtTheEndOfTheFile) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("in.jpg"), MakeJpeg(64, 48));
    // Left behind by some earlier call: the read that meets the end must not retry for it.
    errno = EINTR;
    MakeThumbnailFile(dir.file("in.jpg"), dir.file("out.jpg"), 32, 32, clWhite);
    EXPECT_EQ(ReadFacts(testutil::ReadFile(dir.file("out.jpg"))).width, 32);
}

// A source may claim a size it does not hold (a file cut short or grown while read, a device):
// the picture is read for what it holds, and no buffer is set aside for the claim.
TEST(ThumbnailFile, SourcesThatMisstateTheirSizeAreReadForWhatTheyHold) {
    const auto jpeg = MakeJpeg(64, 48);
    const struct {
        const char *Name;
        std::streamoff ClaimedEnd;
    } rows[] = {
        {"a terabyte", std::streamoff(1) << 40},
        {"an end before the start", 5},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Name);
        struct ClaimingBuf : std::stringbuf {
            using std::stringbuf::stringbuf;
            std::streamoff Claimed = 0;
            bool AtEnd = false; // the position reported is the claimed end
            pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                             std::ios_base::openmode which) override {
                if (off == 0 &&
                    (dir == std::ios_base::end || (dir == std::ios_base::cur && AtEnd))) {
                    std::stringbuf::seekoff(0, std::ios_base::end, which);
                    AtEnd = true;
                    return pos_type(Claimed);
                }
                AtEnd = false;
                return std::stringbuf::seekoff(off, dir, which);
            }
            pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
                AtEnd = false;
                return std::stringbuf::seekpos(pos, which);
            }
        } buf("not a picture" + std::string(jpeg.begin(), jpeg.end()), std::ios::in);
        buf.Claimed = row.ClaimedEnd;
        std::istream in(&buf);
        in.seekg(13);
        std::ostringstream out;
        ASSERT_NO_THROW(MakeThumbnail(in, out, 32, 32, clWhite));
        const std::string bytes = out.str();
        EXPECT_EQ(ReadFacts({bytes.begin(), bytes.end()}).width, 32);
    }
}

TEST(ThumbnailErrors, SizesAreCheckedFirstThenTheSource) {
    PIXAVANT_REQUIRE_SAMPLES();
    const auto jpeg = MakeJpeg(16, 16);
    EXPECT_EQ(MessageOf<Exception>([&] { Thumb(jpeg, 0, 0); }), "Invalid Width");
    EXPECT_EQ(MessageOf<Exception>([&] { Thumb(jpeg, -5, 100); }), "Invalid Width");
    EXPECT_EQ(MessageOf<Exception>([&] { Thumb(jpeg, 1, 0); }), "Invalid Height");
    EXPECT_EQ(ReadFacts(Thumb(jpeg, 1, 1)).width, 1); // the smallest there is
    EXPECT_THROW(ThumbnailPlacement(0, 0, 150, 100), EInvalidOp);
    EXPECT_THROW(ThumbnailPlacement(10, 0, 150, 100), EZeroDivide);
    EXPECT_EQ(MessageOf<Exception>([&] { Thumb({}, 0, 10); }), "Invalid Width");
    EXPECT_EQ(MessageOf<EInvalidOp>([&] { Thumb({}, 150, 100); }),
              "Invalid floating point operation");
    EXPECT_EQ(MessageOf<EJPEG>([&] {
                  Thumb(testutil::ReadFile(Sample("odd/gwenview_png-with-jpeg-extension.jpg")), 150,
                        100);
              }),
              JpegMessage(JERR_NO_SOI));
    EXPECT_EQ(MessageOf<EJPEG>([&] { Thumb(Slice(jpeg, 100), 150, 100); }),
              JpegMessage(JERR_NO_IMAGE));
    // Bigger than a JPEG file can be, or than we are willing to hold.
    EXPECT_EQ(MessageOf<EJPEG>([&] { Thumb(jpeg, 65501, 10); }), JpegMessage(JERR_IMAGE_TOO_BIG));
    EXPECT_EQ(MessageOf<EOutOfMemory>([&] { Thumb(jpeg, 32767, 32767); }), "Out of memory");
    // A hundred million pixels is the most held: one row more is refused before any work.
    EXPECT_EQ(MessageOf<EOutOfMemory>([&] { Thumb(jpeg, 10000, 10001); }), "Out of memory");
}

TEST(ThumbnailErrors, FilesThatCannotBeOpenedOrCreatedAreNamed) {
    testutil::TempDir dir;
    const std::string source = dir.file("preview.jpg"), dest = dir.file("thumb.jpg");
    testutil::WriteFile(source, MakeJpeg(40, 30));

    EXPECT_EQ(MessageOf<EFOpenError>(
                  [&] { MakeThumbnailFile(dir.file("none.jpg"), dest, 150, 100, clWhite); }),
              "Cannot open file \"" + dir.file("none.jpg") + "\". No such file or directory");
    EXPECT_FALSE(testutil::FileExists(dest)); // the source is opened first
    EXPECT_EQ(
        MessageOf<EFOpenError>([&] { MakeThumbnailFile(dir.path(), dest, 150, 100, clWhite); }),
        "Cannot open file \"" + dir.path() + "\". Is a directory");
    const std::string badDest = dir.file("missing/thumb.jpg");
    EXPECT_EQ(
        MessageOf<EFCreateError>([&] { MakeThumbnailFile(source, badDest, 150, 100, clWhite); }),
        "Cannot create file \"" + badDest + "\". No such file or directory");

    // The destination is created before the source is read: a failure leaves it empty.
    EXPECT_EQ(MessageOf<Exception>([&] { MakeThumbnailFile(source, dest, 0, 0, clWhite); }),
              "Invalid Width");
    ASSERT_TRUE(testutil::FileExists(dest));
    EXPECT_TRUE(testutil::ReadFile(dest).empty());

    // Its descriptors are closed once each: standard input, say, is left open.
    if (::fcntl(0, F_GETFD) == -1) {
        ASSERT_EQ(::open("/dev/null", O_RDONLY), 0);
    }
    errno = EIO; // left by an earlier failure: a success must not report it
    MakeThumbnailFile(source, dest, 150, 100, clWhite);
    EXPECT_NE(::fcntl(0, F_GETFD), -1);
    EXPECT_EQ(ReadFacts(testutil::ReadFile(dest)).width, 150);
    EXPECT_TRUE(HasThumbnailComment(dest));
    EXPECT_FALSE(HasThumbnailComment(source));
    EXPECT_FALSE(HasThumbnailComment(dir.file("none.jpg")));
}

// Hostile shapes and damaged data convert or raise our exceptions; nothing crashes, hangs or
// allocates what the header claims.
TEST(ThumbnailErrors, ScanHeavyFilesAreBoundedByTheirWorkNotTheirScanCount) {
    // Extra scans that code nothing still make the decoder visit every block: what counts is
    // scans x blocks. A small picture may have many; a large one, ten thousand times fewer.
    struct Row {
        int size, scans;
        bool stopped;
    };
    for (const Row row : {Row{64, 5000, false}, Row{256, 100, false}, Row{2048, 2000, true}}) {
        SCOPED_TRACE(std::to_string(row.size) + " px, " + std::to_string(row.scans) + " scans");
        const auto jpeg = hostile::ManyScanJpeg(row.size, row.size, row.scans);
        if (!row.stopped) {
            EXPECT_EQ(ReadFacts(Thumb(jpeg, 150, 100)).width, 150);
            continue;
        }
        const std::string message = MessageOf<EJPEG>([&] { Thumb(jpeg, 150, 100); });
        EXPECT_EQ(message.rfind("The JPEG picture has too many scans for its size; decoding was "
                                "stopped after ",
                                0),
                  0u)
            << message;
    }
}

TEST(ThumbnailErrors, ExtremeShapesAndDamagedFilesConvertOrRaise) {
    for (const auto &[w, h] : {std::pair{1, 1}, std::pair{65500, 1}, std::pair{1, 65500}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        MakeOptions o;
        o.components = 1;
        const JpegFacts facts = ReadFacts(Thumb(MakeJpeg(w, h, o), 150, 100));
        EXPECT_EQ(facts.width, 150);
        EXPECT_EQ(facts.height, 100);
    }
    // A header claiming a huge picture over a few bytes of data.
    const auto withSize = [](std::vector<std::uint8_t> jpeg, int w, int h) {
        for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
            if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
                jpeg[i + 5] = std::uint8_t(h >> 8);
                jpeg[i + 6] = std::uint8_t(h);
                jpeg[i + 7] = std::uint8_t(w >> 8);
                jpeg[i + 8] = std::uint8_t(w);
                break;
            }
        return jpeg;
    };
    MakeOptions progressive;
    progressive.progressive = true;
    EXPECT_EQ(MessageOf<EJPEG>([&] { Thumb(withSize(MakeJpeg(32, 32), 65500, 65500), 150, 100); }),
              JpegMessage(JERR_IMAGE_TOO_BIG));
    EXPECT_EQ(MessageOf<EJPEG>(
                  [&] { Thumb(withSize(MakeJpeg(32, 32, progressive), 20000, 20000), 150, 100); }),
              JpegMessage(JERR_NO_BACKING_STORE));
    EXPECT_EQ(ReadFacts(Thumb(withSize(MakeJpeg(32, 32), 20000, 15000), 150, 100)).width, 150);

    for (bool prog : {false, true}) {
        MakeOptions o;
        o.progressive = prog;
        const auto whole = MakeJpeg(200, 120, o);
        for (std::size_t cut = 1; cut < whole.size(); cut += whole.size() / 23) {
            SCOPED_TRACE((prog ? "progressive cut at " : "cut at ") + std::to_string(cut));
            try {
                EXPECT_EQ(ReadFacts(Thumb(Slice(whole, cut), 150, 100)).height, 100);
            } catch (const EJPEG &) {
            }
        }
    }
}
