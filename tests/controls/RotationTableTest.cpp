// The rotation's arithmetic against values worked out apart from it, in extended precision and
// exact fractions (rotation_table.py): the normalised angle, the fixed-point sine and cosine
// through the turned size, every turned pixel, the point mapping with its halves, the diagonal,
// the control's rectangle and outline, and the background pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "Exceptions.h"
#include "RotImg.h"

namespace {

struct AngleRow {
    long double Angle, Normalised;
    std::int32_t S, C; // for the reader: the turned size shows them
    int W, H, TurnedW, TurnedH;
};
struct TurnRow {
    int W, H;
    long double Angle;
    int TurnedW, TurnedH, Background;
    std::uint64_t Hash;
};
struct MapRow {
    long double Angle;
    int PW, PH, RW, RH, X, Y, MappedX, MappedY;
};
struct DiagonalRow {
    int W, H, Diagonal; // -1: the squares leave 32 bits
};
struct LayoutRow {
    int PW, PH, CW, CH;
    bool Center, Proportional, Stretch, UniqueSize;
    long double Angle;
    int Diagonal, RW, RH;
    TRect Dest;
    QPoint Outline[4];
};
struct BackgroundRow {
    std::uint32_t Color;
    std::uint32_t Pixel;
};

#include "RotationTable.inc"

// Every pixel names its source: column and top-down row, with a flag byte the background lacks.
TBitmap Numbered(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            reinterpret_cast<std::uint32_t *>(img.scanLine(y))[x] =
                0x5A000000u | (std::uint32_t(x) << 12) | std::uint32_t(y);
    return TBitmap(img);
}

} // namespace

TEST(RotationTable, AnglesNormaliseAndTurnToTheirSize) {
    for (const AngleRow &r : AngleRows) {
        SCOPED_TRACE(testing::Message() << double(r.Angle));
        EXPECT_EQ(NormalizeAngle(r.Angle), r.Normalised);
        const auto turned =
            RotateBitmap(TBitmap(QImage(r.W, r.H, QImage::Format_RGB32)), 0, r.Angle);
        EXPECT_EQ(QSize(turned->Width(), turned->Height()), QSize(r.TurnedW, r.TurnedH));
    }
}

TEST(RotationTable, EveryTurnedPixelComesFromItsSource) {
    for (const TurnRow &r : TurnRows) {
        SCOPED_TRACE(testing::Message() << r.W << " x " << r.H << " at " << double(r.Angle));
        const auto turned = RotateBitmap(Numbered(r.W, r.H), 0x00332211, r.Angle);
        ASSERT_EQ(QSize(turned->Width(), turned->Height()), QSize(r.TurnedW, r.TurnedH));
        std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a over the source indices
        int background = 0;
        for (int y = 0; y < r.TurnedH; ++y)
            for (int x = 0; x < r.TurnedW; ++x) {
                const std::uint32_t p =
                    reinterpret_cast<const std::uint32_t *>(turned->Image().constScanLine(y))[x];
                const bool source = (p >> 24) == 0x5A;
                background += !source;
                const std::uint32_t index =
                    source ? (p & 0xFFF) * std::uint32_t(r.W) + ((p >> 12) & 0xFFF) : ~0u;
                for (int b = 0; b < 4; ++b)
                    hash = (hash ^ ((index >> (8 * b)) & 0xFF)) * 0x100000001B3ull;
            }
        EXPECT_EQ(background, r.Background);
        EXPECT_EQ(hash, r.Hash);
    }
}

TEST(RotationTable, PointsMapWithHalvesToEven) {
    for (const MapRow &r : MapRows) {
        SCOPED_TRACE(testing::Message() << double(r.Angle) << ": (" << r.X << ", " << r.Y << ") of "
                                        << r.PW << " x " << r.PH);
        QPoint p[1] = {{r.X, r.Y}};
        MapToRotated(p, 0, r.Angle, r.PW, r.PH, r.RW, r.RH);
        EXPECT_EQ(p[0], QPoint(r.MappedX, r.MappedY));
    }
}

TEST(RotationTable, DiagonalsRoundToNearestAndOverflowIsRaised) {
    for (const DiagonalRow &r : DiagonalRows) {
        SCOPED_TRACE(testing::Message() << r.W << " x " << r.H);
        if (r.Diagonal < 0)
            EXPECT_THROW(rotation::DiagonalOf(r.W, r.H), EIntOverflow);
        else
            EXPECT_EQ(rotation::DiagonalOf(r.W, r.H), r.Diagonal);
    }
}

TEST(RotationTable, TheControlPlacesAndOutlinesTheTurnedPicture) {
    for (const LayoutRow &r : LayoutRows) {
        SCOPED_TRACE(testing::Message() << r.PW << " x " << r.PH << " in " << r.CW << " x " << r.CH
                                        << " at " << double(r.Angle));
        TRotateImage image;
        image.resize(r.CW, r.CH);
        image.SetCenter(r.Center);
        image.SetProportional(r.Proportional);
        image.SetStretch(r.Stretch);
        image.SetUniqueSize(r.UniqueSize);
        image.SetAngle(r.Angle);
        QImage img(r.PW, r.PH, QImage::Format_RGB32);
        img.fill(qRgb(10, 20, 30));
        TPicture picture;
        const TBitmap bitmap(img);
        picture.SetGraphic(&bitmap);
        image.SetPicture(picture);
        EXPECT_EQ(image.Diagonal(), r.Diagonal);
        EXPECT_EQ(QSize(image.Rotated().Width(), image.Rotated().Height()), QSize(r.RW, r.RH));
        EXPECT_EQ(image.GetDestRect(), r.Dest);
        EXPECT_EQ(image.ClipOutline(),
                  QPolygon({r.Outline[0], r.Outline[1], r.Outline[2], r.Outline[3]}));
    }
}

TEST(RotationTable, BackgroundPixelsCarryTheColourAndItsFlagByte) {
    const TBitmap source = Numbered(20, 10);
    for (const BackgroundRow &r : BackgroundRows) {
        const auto turned = RotateBitmap(source, TColor(r.Color), 30);
        EXPECT_EQ(reinterpret_cast<const std::uint32_t *>(turned->Image().constBits())[0], r.Pixel)
            << std::hex << r.Color;
    }
    // A bitmap picture's automatic transparent colour is its bottom-left pixel, flagged as
    // palette-relative; the flag must not reach the turned corners.
    TRotateImage image;
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(qRgb(0x11, 0x22, 0x33));
    const TBitmap bitmap(img);
    TPicture picture;
    picture.SetGraphic(&bitmap);
    image.SetPicture(picture);
    image.SetAngle(30);
    EXPECT_EQ(reinterpret_cast<const std::uint32_t *>(image.Rotated().Image().constBits())[0],
              0x00112233u);
}

TEST(RotationTable, RoundingGoesToTheNearestWithHalvesToEvenWithin32Bits) {
    const struct {
        long double Value;
        std::int64_t Rounded; // beyond 32 bits: the overflow error
    } rows[] = {
        {0.5L, 0},
        {1.5L, 2},
        {2.5L, 2},
        {-0.5L, 0},
        {-1.5L, -2},
        {-2.5L, -2},
        {2.4999L, 2},
        {-2.5001L, -3},
        {-7.3L, -7},
        {2147483647.4L, INT32_MAX},
        {-2147483648.5L, INT32_MIN},
        {2147483647.5L, 1ll << 31},
        {-2147483648.6L, -(1ll << 31) - 1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << double(r.Value));
        if (r.Rounded > INT32_MAX || r.Rounded < INT32_MIN)
            EXPECT_THROW(rotation::RoundHalfEven(r.Value), EIntOverflow);
        else
            EXPECT_EQ(rotation::RoundHalfEven(r.Value), r.Rounded);
    }
    EXPECT_THROW(rotation::RoundHalfEven(std::numeric_limits<long double>::quiet_NaN()),
                 EIntOverflow);
}
