// The fixed-point rotation and the point mapping: exact quarter turns, the turned size, the
// background pixel, and bad input (the arithmetic itself: RotationTableTest.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sys/mman.h>

#include "Exceptions.h"
#include "RotImg.h"

namespace {

using Px = std::uint32_t;

// Every pixel different, with a non-zero fourth byte so whole 32-bit pixels must be moved.
Px Marker(int x, int yTop) {
    return 0x5A000000u | (Px(x) << 12) | Px(yTop);
}

TBitmap Numbered(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            reinterpret_cast<Px *>(img.scanLine(y))[x] = Marker(x, y);
    return TBitmap(img);
}

Px At(const TBitmap &b, int x, int yTop) {
    return reinterpret_cast<const Px *>(b.Image().constScanLine(yTop))[x];
}

constexpr TColor Background = 0x00332211; // red 0x11, green 0x22, blue 0x33
constexpr Px BackgroundPixel = 0x00112233;

void ExpectQuarterTurn(int w, int h, long double angle,
                       const std::function<QPoint(int x, int y)> &dest) {
    SCOPED_TRACE(testing::Message() << w << " x " << h << " at " << double(angle));
    const TBitmap src = Numbered(w, h);
    const auto r = RotateBitmap(src, Background, angle);
    const bool sideways = std::fmod(std::fabs(double(angle)), 180.0) != 0;
    ASSERT_EQ(r->Width(), sideways ? h : w);
    ASSERT_EQ(r->Height(), sideways ? w : h);
    QImage expected(r->Width(), r->Height(), QImage::Format_RGB32);
    for (int y = 0; y < expected.height(); ++y) // fill() would make the fourth byte 0xFF
        std::fill_n(reinterpret_cast<Px *>(expected.scanLine(y)), expected.width(),
                    BackgroundPixel);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QPoint d = dest(x, y);
            if (expected.rect().contains(d))
                reinterpret_cast<Px *>(expected.scanLine(d.y()))[d.x()] = Marker(x, y);
        }
    for (int y = 0; y < r->Height(); ++y)
        for (int x = 0; x < r->Width(); ++x)
            ASSERT_EQ(At(*r, x, y), reinterpret_cast<const Px *>(expected.constScanLine(y))[x])
                << "at (" << x << ", " << y << ")";
}

} // namespace

TEST(RotateBitmap, QuarterTurnsMovePixelsExactlyWithTheirOneColumnShifts) {
    const QSize sizes[] = {{4, 2}, {6, 4}, {5, 3}, {3, 5}, {4, 3}, {5, 2}, {1, 1}, {1, 4}};
    for (const QSize s : sizes) {
        const int w = s.width(), h = s.height();
        auto ccw = [=](int x, int y) { return QPoint(y, w - 1 - x); };
        auto cw = [=](int x, int y) { return QPoint(h - 1 - y, x); };
        auto half = [=](int x, int y) { return QPoint(w - 1 - x, h - 1 - y); };
        ExpectQuarterTurn(w, h, 90, ccw);
        ExpectQuarterTurn(w, h, 450, ccw);
        ExpectQuarterTurn(w, h, -90, cw);
        ExpectQuarterTurn(w, h, 180, half);
        ExpectQuarterTurn(w, h, -180, half);
        // 270 does not take the centre correction of -90: with an even height the picture
        // sits one column to the left; -270 likewise sits one row lower for an even width.
        ExpectQuarterTurn(w, h, 270,
                          [=](int x, int y) { return cw(x, y) - QPoint(h % 2 == 0 ? 1 : 0, 0); });
        ExpectQuarterTurn(w, h, -270,
                          [=](int x, int y) { return ccw(x, y) + QPoint(0, w % 2 == 0 ? 1 : 0); });
        ExpectQuarterTurn(w, h, 360, [](int x, int y) { return QPoint(x, y); });
        ExpectQuarterTurn(w, h, -720, [](int x, int y) { return QPoint(x, y); });
    }
}

TEST(RotateBitmap, FortyFiveDegreesGivesTheBoundingSizeWithBackgroundCorners) {
    const auto r = RotateBitmap(Numbered(100, 50), Background, 45);
    ASSERT_EQ(r->Width(), 106);
    ASSERT_EQ(r->Height(), 106);
    for (const QPoint p : {QPoint(0, 0), QPoint(105, 0), QPoint(0, 105), QPoint(105, 105)})
        EXPECT_EQ(At(*r, p.x(), p.y()), BackgroundPixel) << p.x() << "," << p.y();
    // The middle of the turned bitmap is the middle of the picture.
    EXPECT_EQ(At(*r, 53, 52) >> 24, 0x5Au);
}

TEST(RotateBitmap, BackgroundResolvesSystemColours) {
    const auto system = RotateBitmap(Numbered(20, 10), clBtnFace, 30);
    const TColor face = ColorToRGB(clBtnFace);
    const Px facePixel = (Px(face & 0xFF) << 16) | Px(face & 0xFF00) | Px((face >> 16) & 0xFF);
    EXPECT_EQ(At(*system, 0, 0), facePixel);
}

TEST(RotateBitmap, MinusHalfADegreeTurnsClockwise) {
    // A horizontal line through a wide picture: turned clockwise on the screen, its right end
    // goes down (larger top-down rows) and its left end up.
    QImage img(400, 40, QImage::Format_RGB32);
    img.fill(0xFFFFFFFF);
    for (int x = 0; x < 400; ++x)
        reinterpret_cast<Px *>(img.scanLine(20))[x] = 0xFF000000;
    const auto r = RotateBitmap(TBitmap(img), clWhite, -0.5L);
    ASSERT_EQ(r->Width(), 400);
    auto lineRow = [&](int x) {
        for (int y = 0; y < r->Height(); ++y)
            if ((At(*r, x, y) & 0xFFFFFF) == 0)
                return y;
        return -1;
    };
    EXPECT_GE(lineRow(390) - lineRow(10), 3);
    EXPECT_LE(lineRow(390) - lineRow(10), 4);
}

TEST(RotateBitmap, ResultDoesNotDependOnTheSplitAcrossThreads) {
    QImage img(300, 211, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            reinterpret_cast<Px *>(img.scanLine(y))[x] = Px(x * 31 + y * 977) | 0x03000000;
    const TBitmap src(img);
    for (const long double angle : {30.0L, 90.0L, -135.5L}) {
        const auto one = RotateBitmap(src, Background, angle, 1);
        for (int threads : {2, 3, 7, 1000})
            EXPECT_EQ(RotateBitmap(src, Background, angle, threads)->Image(), one->Image())
                << double(angle) << " with " << threads << " threads";
    }

    // Large results get a buffer of their own; copies of them must still detach on write.
    QImage large(1500, 1200, QImage::Format_RGB32);
    for (int y = 0; y < large.height(); ++y)
        for (int x = 0; x < large.width(); ++x)
            reinterpret_cast<Px *>(large.scanLine(y))[x] = Px(x * 131 + y * 7) | 0x03000000;
    const TBitmap largeSrc(large);
    const auto big = RotateBitmap(largeSrc, Background, 30, 2);
    EXPECT_EQ(big->Image(), RotateBitmap(largeSrc, Background, 30, 1)->Image());
    TBitmap copy(*big);
    reinterpret_cast<Px *>(copy.Image().scanLine(0))[0] = 0x12345678;
    EXPECT_EQ(At(*big, 0, 0), BackgroundPixel);
}

TEST(RotateBitmap, TinyPicturesAndTheUnturnedCase) {
    EXPECT_TRUE(RotateBitmap(TBitmap(), Background, 45)->Empty());
    EXPECT_TRUE(RotateBitmap(TBitmap(), Background, 0)->Empty());
    const TBitmap one = Numbered(1, 1);
    for (const long double angle : {0.0L, 45.0L, 90.0L, -90.0L, 180.0L, 270.0L, 33.0L}) {
        const auto r = RotateBitmap(one, Background, angle);
        ASSERT_EQ(r->Width(), 1) << double(angle);
        ASSERT_EQ(r->Height(), 1);
        EXPECT_EQ(At(*r, 0, 0), Marker(0, 0)) << double(angle);
    }
    const TBitmap src = Numbered(7, 4);
    EXPECT_EQ(RotateBitmap(src, Background, 0)->Image(), src.Image());
}

TEST(RotateBitmap, OverflowIsRaisedBeforeAnythingIsAllocatedOrRead) {
    // The turned size leaves 32 bits: a 180-degree turn of a very wide picture.
    try {
        RotateBitmap(Numbered(40000, 1), Background, 180);
        FAIL() << "no overflow raised";
    } catch (const EIntOverflow &e) {
        EXPECT_STREQ(e.what(), "Integer overflow");
    }
    // The turned bitmap would need more than 2147483647 bytes.
    EXPECT_THROW(RotateBitmap(TBitmap(QImage(32767, 100, QImage::Format_RGB32)), Background, 45),
                 EIntOverflow);

    // A 65536 x 65536 source over memory that cannot be read: the size check must come first.
    const std::size_t bytes = std::size_t(65536) * 65536 * 4;
    void *p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    {
        const QImage huge(static_cast<const uchar *>(p), 65536, 65536, QImage::Format_RGB32);
        const TBitmap src(huge);
        EXPECT_THROW(RotateBitmap(src, Background, 45), EIntOverflow);
        EXPECT_THROW(RotateBitmap(src, Background, 90), EIntOverflow);
        // 23171 x 23171 needs just over 2147483647 bytes; turned by a hair it is 23170 x 23170,
        // which would fit: the source's own size must be checked.
        const QImage over(static_cast<const uchar *>(p), 23171, 23171, QImage::Format_RGB32);
        EXPECT_THROW(RotateBitmap(TBitmap(over), Background, 1e-6L), EIntOverflow);
    }
    munmap(p, bytes);
}

TEST(RotateBitmap, TurnedSizesWithAZeroSideAreRefused) {
    // Worked out by hand from the truncated sine and cosine: 2 x 1 at 1e-6 degrees has
    // C = 65535, S = 0, so 1 x 0; 1000 x 1 at 89.9999 degrees has C = 0, S = -65535, so 0 x 999.
    const struct {
        int w, h;
        long double angle;
        const char *message;
    } cases[] = {
        {2, 1, 1e-6L, "Cannot create a bitmap of 1 x 0 pixels: the turned picture has no area"},
        {1000, 1, 89.9999L,
         "Cannot create a bitmap of 0 x 999 pixels: the turned picture has no area"}};
    for (const auto &c : cases) {
        try {
            RotateBitmap(Numbered(c.w, c.h), Background, c.angle);
            FAIL() << c.w << " x " << c.h << " gave a bitmap";
        } catch (const EInvalidGraphic &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    // Just wide enough for a row: 3 x 1 at the same small angle is 2 x 0, 2 x 2 is 1 x 1.
    EXPECT_THROW(RotateBitmap(Numbered(3, 1), Background, 1e-6L), EInvalidGraphic);
    EXPECT_EQ(RotateBitmap(Numbered(2, 2), Background, 1e-6L)->Width(), 1);
}

TEST(RotateBitmap, AnglesThatAreNotNumbersAreRefused) {
    const TBitmap src = Numbered(8, 8);
    for (const long double bad : {std::numeric_limits<long double>::quiet_NaN(),
                                  std::numeric_limits<long double>::infinity(),
                                  -std::numeric_limits<long double>::infinity()}) {
        try {
            RotateBitmap(src, Background, bad);
            FAIL() << "accepted " << double(bad);
        } catch (const EIntOverflow &) {
            FAIL() << "reported as an overflow";
        } catch (const Exception &e) {
            EXPECT_NE(std::string(e.what()).find("angle"), std::string::npos);
        }
    }
    QPoint pts[1] = {{1, 1}};
    EXPECT_THROW(MapToRotated(pts, 0, std::numeric_limits<long double>::quiet_NaN(), 8, 8, 8, 8),
                 Exception);
}

TEST(MapToRotated, ANegativeHighIndexMapsNothing) {
    QPoint untouched[1] = {{5, 5}};
    MapToRotated(untouched, -1, 90, 4, 2, 2, 4);
    EXPECT_EQ(untouched[0], QPoint(5, 5));
}

TEST(MapToRotated, FollowsTheTurnedPixels) {
    // A pixel's top-left corner maps next to where RotateBitmap put that pixel (odd sizes
    // avoid the centre corrections).
    const TBitmap src = Numbered(9, 5);
    for (const long double angle : {90.0L, 180.0L, -90.0L, 30.0L, -150.0L}) {
        const auto r = RotateBitmap(src, Background, angle);
        const QPoint probes[] = {{1, 1}, {7, 1}, {4, 2}, {2, 3}};
        for (const QPoint probe : probes) {
            QPoint centre[1] = {probe};
            MapToRotated(centre, 0, angle, 9, 5, r->Width(), r->Height());
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx) {
                    const QPoint q = centre[0] + QPoint(dx, dy);
                    found = QRect(0, 0, r->Width(), r->Height()).contains(q) &&
                            At(*r, q.x(), q.y()) == Marker(probe.x(), probe.y());
                }
            EXPECT_TRUE(found) << double(angle) << " probe " << probe.x() << "," << probe.y();
        }
    }
}

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFailsSoftly) {
    EXPECT_EQ(MulDiv(300, 250, 400), 188);
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(5, -1, 2), -3);
    EXPECT_EQ(MulDiv(5, 1, -2), -3);
    EXPECT_EQ(MulDiv(-5, -1, -2), -3);
    EXPECT_EQ(MulDiv(7, 1, 3), 2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(1 << 30, 8, 2), -1);
    EXPECT_EQ(MulDiv(1 << 30, 4, 2), -1);          // 2^31 does not fit
    EXPECT_EQ(MulDiv(65536, 65536, 65536), 65536); // the product needs 64 bits
}

TEST(MulDiv, SizesRaiseWhereMulDivWouldAnswerMinusOne) {
    EXPECT_EQ(CheckedMulDiv(300, 250, 400), 188);
    EXPECT_EQ(CheckedMulDiv(-3, 1, 3), -1); // a true -1 is an answer, not a failure
    EXPECT_EQ(CheckedMulDiv(-5, 1, 2), -3);
    EXPECT_EQ(CheckedMulDiv(65536, 65536, 65536), 65536);
    EXPECT_THROW(CheckedMulDiv(1, 1, 0), EIntOverflow);
    EXPECT_THROW(CheckedMulDiv(1 << 30, 4, 2), EIntOverflow);
    EXPECT_THROW(CheckedMulDiv(-(1 << 30), 4, 2), EIntOverflow);
}
