// Bitmaps: sizes, transparency, system colours, and JPEG loading.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QPalette>

#include <array>

#include "Exceptions.h"
#include "Graphics.h"
#include "HostileJpeg.h"
#include "JpegCodec.h"
#include "TestUtil.h"

TEST(Graphics, SystemColoursResolveAndPlainColoursPassThrough) {
    EXPECT_EQ(ColorToRGB(0x123456), 0x123456);
    EXPECT_GE(ColorToRGB(clWindow), 0);
    EXPECT_EQ(ColorToRGB(clBtnFace) & 0xFF000000, 0);
    EXPECT_EQ(ToQColor(0x0000FF), QColor(255, 0, 0));
}

TEST(Graphics, OnlyTopByteFFMarksASystemColour) {
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Base, QColor(1, 2, 3));
    pal.setColor(QPalette::Button, QColor(4, 5, 6));
    QApplication::setPalette(pal);
    RefreshSystemColors();
    // The window and button-face colours follow the desktop's palette.
    EXPECT_EQ(ToQRgb(clWindow), qRgb(1, 2, 3));
    EXPECT_EQ(ToQRgb(clBtnFace), qRgb(4, 5, 6));
    const struct {
        std::uint32_t color, expected;
    } cases[] = {
        {0xFF000005u, 0x030201u}, // the window colour, resolved
        {0xFE000005u, 0xFE000005u}, {0x80000005u, 0x80000005u}, {0x80123456u, 0x80123456u},
        {0x7F123456u, 0x7F123456u}, {0x02123456u, 0x02123456u}, {0x00123456u, 0x00123456u},
    };
    for (const auto &c : cases)
        EXPECT_EQ(std::uint32_t(ColorToRGB(TColor(c.color))), c.expected) << std::hex << c.color;
    EXPECT_EQ(ToQColor(TColor(0x80000005u)), QColor(5, 0, 0));
    QApplication::setPalette(saved);
    RefreshSystemColors();
}

TEST(Graphics, BitmapGrowsWithBrushColourAndKeepsPixels) {
    TBitmap b(2, 2);
    b.Fill(0x0000FF);
    b.SetBrushColor(0x00FF00);
    b.SetSize(3, 3);
    EXPECT_EQ(b.Image().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(b.Image().pixel(2, 2), qRgb(0, 255, 0));
    b.SetSize(0, 5);
    EXPECT_TRUE(b.Empty());
}

TEST(Graphics, AutomaticTransparentColourIsBottomLeftWithFlag) {
    TBitmap b(4, 3);
    b.Fill(clWhite);
    b.Image().setPixel(0, 2, qRgb(1, 2, 3));
    EXPECT_EQ(b.TransparentColor(), TColor(0x02000000 | 0x030201));
    b.SetTransparentColor(0x0000FF);
    EXPECT_EQ(b.TransparentColor(), 0x0000FF);
}

TEST(Graphics, TransparentDrawingSkipsKeyPixels) {
    TBitmap b(2, 1);
    b.Image().setPixel(0, 0, qRgb(255, 0, 0));
    b.Image().setPixel(1, 0, qRgb(0, 0, 255));
    b.SetTransparentColor(0x0000FF); // red
    b.SetTransparent(true);
    QImage canvas(2, 1, QImage::Format_RGB32);
    canvas.fill(qRgb(0, 255, 0));
    {
        QPainter p(&canvas);
        b.Draw(p, QRect(0, 0, 2, 1));
    }
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(canvas.pixel(1, 0), qRgb(0, 0, 255));
}

TEST(Graphics, FrameAndCopyClipToTheBitmap) {
    TBitmap b(4, 4);
    b.Fill(clBlack);
    b.FrameRect(QRect(0, 0, 4, 4), clWhite);
    EXPECT_EQ(b.Image().pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(b.Image().pixel(3, 3), qRgb(255, 255, 255));
    EXPECT_EQ(b.Image().pixel(1, 1), qRgb(0, 0, 0));
    TBitmap small(3, 3);
    small.Fill(0x0000FF);
    b.CopyFrom(small, 2, -1); // hangs over two edges
    EXPECT_EQ(b.Image().pixel(3, 0), qRgb(255, 0, 0));
    EXPECT_EQ(b.Image().pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(b.Image().pixel(1, 1), qRgb(0, 0, 0));
}

TEST(Graphics, CmykJpegDecodesToPlausibleColours) {
    PIXAVANT_REQUIRE_SAMPLES();
    const auto bytes = testutil::ReadFile(testutil::Sample("jpg/pillow_pil_sample_cmyk.jpg"));
    const auto rgbBytes = testutil::ReadFile(testutil::Sample("jpg/pillow_pil_sample_rgb.jpg"));
    const QImage cmyk = DecodeJpeg(bytes.data(), bytes.size());
    const QImage rgb = DecodeJpeg(rgbBytes.data(), rgbBytes.size());
    ASSERT_EQ(cmyk.size(), rgb.size());
    // Same scene: the mean colour must agree closely (an inverted or swapped conversion
    // would be far off).
    auto mean = [](const QImage &img) {
        double r = 0, g = 0, b = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                r += qRed(p), g += qGreen(p), b += qBlue(p);
            }
        const double n = double(img.width()) * img.height();
        return std::array<double, 3>{r / n, g / n, b / n};
    };
    const auto a = mean(cmyk), c = mean(rgb);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(a[i], c[i], 25.0);
}

TEST(Graphics, CmykPixelsBecomeTheColoursTheirInksPrint) {
    // Ink amounts 0 (none) to 255 (full); Adobe's files store 255 minus the amount.
    struct Row {
        std::uint8_t c, m, y, k;
        QRgb printed;
    } rows[] = {
        {0, 0, 0, 0, qRgb(255, 255, 255)},   {255, 0, 0, 0, qRgb(0, 255, 255)},
        {0, 255, 0, 0, qRgb(255, 0, 255)},   {0, 0, 255, 0, qRgb(255, 255, 0)},
        {0, 0, 0, 255, qRgb(0, 0, 0)},       {0, 128, 0, 0, qRgb(255, 127, 255)},
        {0, 0, 0, 128, qRgb(127, 127, 127)},
    };
    for (const Row &row : rows) {
        for (const bool adobe : {false, true}) {
            SCOPED_TRACE(std::to_string(row.c) + " " + std::to_string(row.m) + " " +
                         std::to_string(row.y) + " " + std::to_string(row.k) +
                         (adobe ? " stored inverted" : ""));
            const std::uint8_t stored[4] = {std::uint8_t(adobe ? 255 - row.c : row.c),
                                            std::uint8_t(adobe ? 255 - row.m : row.m),
                                            std::uint8_t(adobe ? 255 - row.y : row.y),
                                            std::uint8_t(adobe ? 255 - row.k : row.k)};
            std::uint8_t rgb[3] = {};
            CmykToRgb(stored, adobe, rgb);
            EXPECT_EQ(qRgb(rgb[0], rgb[1], rgb[2]), row.printed);
        }
    }
}

TEST(Graphics, JpegDecodesAreBoundedByScansTimesBlocks) {
    // The viewer's decoder: a picture of many cheap scans decodes, one whose scans each visit
    // 65536 blocks is stopped with the reason.
    const auto cheap = hostile::ManyScanJpeg(64, 64, 5000);
    EXPECT_EQ(DecodeJpeg(cheap.data(), cheap.size()).width(), 64);
    const auto heavy = hostile::ManyScanJpeg(2048, 2048, 2000);
    try {
        DecodeJpeg(heavy.data(), heavy.size());
        FAIL() << "decoded";
    } catch (const EJPEG &e) {
        EXPECT_EQ(e.Message().rfind("The JPEG picture has too many scans for its size", 0), 0u)
            << e.Message();
    }
}
