// The picture control: layout of the turned picture, its outline, transparent drawing over the
// parent, caching and sizing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <functional>
#include <limits>

#include "Exceptions.h"
#include "RotImg.h"
#include "TestUtil.h"

namespace {

TBitmap Filled(int w, int h, QRgb rgb) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(rgb);
    return TBitmap(img);
}

void Load(TRotateImage &control, const TGraphic &graphic) {
    TPicture picture;
    picture.SetGraphic(&graphic);
    control.SetPicture(picture);
}

// The viewer's arrangement: centred, shrunk to fit, laid out for the diagonal.
struct ViewerLayout : testing::Test {
    ViewerLayout() {
        image.resize(250, 250);
        image.SetCenter(true);
        image.SetProportional(true);
        Load(image, Filled(300, 400, qRgb(10, 20, 30)));
    }
    TRotateImage image;
};

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    int Paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        Paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

TEST(RotateImage, EveryVisibleChangeRepaints) {
    QWidget parent;
    parent.resize(200, 200);
    TRotateImage image(&parent);
    image.setGeometry(0, 0, 100, 100);
    Load(image, Filled(40, 20, qRgb(1, 2, 3)));
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    PaintCounter counter;
    image.installEventFilter(&counter);
    const struct {
        const char *Change;
        std::function<void()> Make;
    } changes[] = {
        {"a quarter turn", [&] { image.SetAngle(90); }},
        {"a turn off the quarters", [&] { image.SetAngle(30); }},
        {"another picture", [&] { Load(image, Filled(30, 10, qRgb(4, 5, 6))); }},
        {"centred", [&] { image.SetCenter(true); }},
        {"colour", [&] { image.SetColor(clRed); }},
        {"proportional", [&] { image.SetProportional(true); }},
        {"stretched", [&] { image.SetStretch(true); }},
        {"transparent", [&] { image.SetTransparent(true); }},
        {"own size", [&] { image.SetUniqueSize(false); }},
    };
    for (const auto &c : changes) {
        SCOPED_TRACE(c.Change);
        QApplication::processEvents();
        counter.Paints = 0;
        c.Make();
        EXPECT_TRUE(testutil::WaitFor([&] { return counter.Paints > 0; }, std::chrono::seconds(5)));
    }
}

TEST_F(ViewerLayout, TheClipRegionIsTheTurnedOutline) {
    image.SetAngle(45);
    EXPECT_TRUE(image.GetClipRgn().contains(QPoint(124, 124)));
    EXPECT_FALSE(image.GetClipRgn().contains(QPoint(5, 5)));
}

TEST_F(ViewerLayout, ResizingAndSettingsRecomputeTheCachedRectangle) {
    EXPECT_EQ(image.GetDestRect(), (TRect{50, 25, 200, 225}));
    image.resize(500, 500);
    EXPECT_EQ(image.GetDestRect(), (TRect{100, 50, 400, 450}));
    image.SetCenter(false); // without centring the picture still sits in its share
    EXPECT_EQ(image.GetDestRect(), (TRect{100, 50, 400, 450}));
    image.SetUniqueSize(false);
    EXPECT_EQ(image.GetDestRect(), (TRect{0, 0, 300, 400}));
    image.SetStretch(true);
    EXPECT_EQ(image.GetDestRect(), (TRect{0, 0, 375, 500}));
    image.SetProportional(false);
    EXPECT_EQ(image.GetDestRect(), (TRect{0, 0, 500, 500}));
}

TEST(RotateImage, ProportionalAloneShrinksButNeverEnlarges) {
    TRotateImage image;
    image.resize(250, 250);
    image.SetUniqueSize(false);
    image.SetProportional(true);
    Load(image, Filled(100, 80, qRgb(1, 2, 3)));
    EXPECT_EQ(image.GetDestRect(), (TRect{0, 0, 100, 80}));
    image.SetStretch(true); // both: fit in either direction
    EXPECT_EQ(image.GetDestRect(), (TRect{0, 0, 250, 200}));
}

TEST(RotateImage, UnchangedAngleDoesNothingAndAnglesWaitForAPicture) {
    TRotateImage image;
    image.SetAngle(90); // no picture: only stored
    EXPECT_TRUE(image.Rotated().Empty());
    Load(image, Filled(4, 2, qRgb(9, 9, 9)));
    EXPECT_EQ(image.Rotated().Width(), 2);
    EXPECT_EQ(image.Rotated().Height(), 4);

    const TBitmap *before = &image.Rotated();
    const TRect rect = image.GetDestRect();
    image.SetAngle(90);
    image.SetAngle(450.0L - 360.0L);
    EXPECT_EQ(&image.Rotated(), before);
    EXPECT_EQ(image.GetDestRect(), rect);

    image.SetAngle(360); // an unturned copy
    EXPECT_NE(&image.Rotated(), before);
    EXPECT_EQ(image.Rotated().Width(), 4);
    EXPECT_EQ(image.Rotated().Image(), image.Source()->Image());

    ASSERT_FALSE(image.ClipOutline().isEmpty());
    image.Picture().Clear();
    EXPECT_TRUE(image.Rotated().Empty());
    EXPECT_TRUE(image.ClipOutline().isEmpty());
    EXPECT_TRUE(image.GetClipRgn().isEmpty());
    EXPECT_EQ(image.Source(), nullptr);
    EXPECT_EQ(image.Diagonal(), 0);
}

TEST(RotateImage, ConvertedPicturesTakeTheControlColourInTheirCorners) {
    TRotateImage image;
    image.SetColor(0x00405060);
    QImage photo(40, 20, QImage::Format_RGB32);
    photo.fill(qRgb(200, 100, 50));
    TJPEGImage jpeg;
    jpeg.LoadFromImage(photo);
    Load(image, jpeg);
    ASSERT_NE(image.Source(), nullptr);
    EXPECT_NE(static_cast<const TGraphic *>(image.Source()), image.Picture().Graphic());
    image.SetAngle(30);
    // The colour carries the control's flag byte into the background pixels.
    const auto corner =
        reinterpret_cast<const std::uint32_t *>(image.Rotated().Image().constBits())[0];
    EXPECT_EQ(corner, 0x04605040u);
    EXPECT_EQ(image.Rotated().TransparentColor(), TColor(0x04405060));
}

// A 200 x 200 parent that fills itself red, so whatever the control leaves undrawn shows red.
static void PaintRed(QWidget &parent) {
    parent.resize(200, 200);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 0));
    parent.setPalette(pal);
}

TEST(RotateImage, TransparentDrawingLeavesTheParentShowingThrough) {
    QWidget parent;
    PaintRed(parent);
    TRotateImage image(&parent);
    image.setGeometry(0, 0, 200, 200);
    image.SetUniqueSize(false);
    image.SetTransparent(true);

    // Blue picture with a green middle; the bottom-left blue is the transparent colour.
    QImage pic(100, 100, QImage::Format_RGB32);
    pic.fill(qRgb(0, 0, 255));
    for (int y = 40; y < 60; ++y)
        for (int x = 40; x < 60; ++x)
            pic.setPixel(x, y, qRgb(0, 255, 0));
    Load(image, TBitmap(pic));
    EXPECT_TRUE(image.Picture().Graphic()->Transparent());
    image.SetAngle(45);
    EXPECT_TRUE(image.Rotated().Transparent());
    parent.show();

    QImage shot = parent.grab().toImage();
    const QRect dest = image.GetDestRect().ToQRect();
    EXPECT_EQ(shot.pixel(dest.center()), qRgb(0, 255, 0));
    EXPECT_EQ(shot.pixel(dest.left() + 3, dest.top() + 3), qRgb(255, 0, 0)); // background corner
    EXPECT_EQ(shot.pixel(dest.center() + QPoint(0, 30)), qRgb(255, 0, 0));   // blue keyed out
    EXPECT_EQ(shot.pixel(190, 190), qRgb(255, 0, 0));

    // Clipped instead: the picture's own blue shows, but nothing outside its outline.
    image.SetTransparent(false);
    EXPECT_FALSE(image.Rotated().Transparent());
    shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixel(dest.center() + QPoint(0, 30)), qRgb(0, 0, 255));
    EXPECT_EQ(shot.pixel(dest.left() + 3, dest.top() + 3), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(dest.center()), qRgb(0, 255, 0));
}

TEST(RotateImage, AnOutlineWithoutAreaDrawsNothing) {
    QWidget parent;
    PaintRed(parent);
    TRotateImage image(&parent);
    image.setGeometry(0, 0, 200, 200);
    image.SetCenter(true);
    image.SetProportional(true);
    // A one-pixel line at 45 degrees: shrunk to fit, its four corners round onto two points.
    Load(image, Filled(1000, 1, qRgb(0, 0, 255)));
    image.SetAngle(45);
    parent.show();
    ASSERT_FALSE(image.Rotated().Transparent());
    ASSERT_FALSE(image.Rotated().Empty());
    ASSERT_TRUE(image.GetClipRgn().isEmpty());

    const QImage shot = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int drawn = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            drawn += shot.pixel(x, y) != qRgb(255, 0, 0);
    EXPECT_EQ(drawn, 0);
}

TEST(RotateImage, ATurnWithoutAreaIsRefusedAndKeepsThePicture) {
    TRotateImage image;
    Load(image, Filled(2, 1, qRgb(1, 2, 3)));
    EXPECT_THROW(image.SetAngle(1e-6L), EInvalidGraphic);
    EXPECT_EQ(image.Rotated().Width(), 2);
    EXPECT_EQ(image.Rotated().Height(), 1);
}

TEST(RotateImage, AutoSizeFollowsTheDiagonalOrTheTurnedSize) {
    TRotateImage image;
    EXPECT_EQ(image.size(), QSize(105, 105)); // as created
    image.SetAutoSize(true);
    EXPECT_EQ(image.size(), QSize(0, 0)); // no picture: no diagonal
    Load(image, Filled(300, 400, qRgb(1, 1, 1)));
    EXPECT_EQ(image.size(), QSize(500, 500));

    image.SetUniqueSize(false);
    EXPECT_EQ(image.size(), QSize(300, 400));
    image.SetAngle(90);
    EXPECT_EQ(image.size(), QSize(400, 300));

    int w = 7, h = 9;
    image.SetAlign(TAlign::alTop); // only the height may change
    EXPECT_TRUE(image.CanAutoSize(w, h));
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 300);
}

TEST(RotateImage, ClientAlignmentFollowsTheParent) {
    QWidget parent;
    parent.resize(300, 200);
    parent.setContentsMargins(5, 6, 7, 8);
    TRotateImage image(&parent);
    image.SetAlign(TAlign::alClient);
    EXPECT_EQ(image.geometry(), QRect(5, 6, 288, 186));
    parent.show();
    parent.resize(400, 300);
    EXPECT_TRUE(testutil::WaitFor([&] { return image.geometry() == QRect(5, 6, 388, 286); }));
}

TEST(RotateImage, LoadingDefersTheBuildUntilTheEnd) {
    TRotateImage image;
    image.SetLoading(true);
    Load(image, Filled(6, 4, qRgb(1, 1, 1)));
    image.SetAngle(90);
    EXPECT_TRUE(image.Rotated().Empty());
    image.SetLoading(false);
    EXPECT_EQ(image.Rotated().Width(), 4);
    EXPECT_EQ(image.Rotated().Height(), 6);
}

TEST(RotateImage, FailedTurnsKeepThePreviousPictureAndBadAnglesAreRefused) {
    TRotateImage image;
    Load(image, TBitmap(QImage(32767, 100, QImage::Format_RGB32)));
    const TBitmap *before = &image.Rotated();
    EXPECT_THROW(image.SetAngle(45), EIntOverflow);
    EXPECT_EQ(&image.Rotated(), before);
    EXPECT_EQ(image.Rotated().Width(), 32767);

    // The control still takes new pictures afterwards.
    image.SetAngle(0);
    Load(image, Filled(4, 2, qRgb(1, 1, 1)));
    image.SetAngle(90);
    EXPECT_EQ(image.Rotated().Width(), 2);

    EXPECT_THROW(image.SetAngle(std::numeric_limits<long double>::quiet_NaN()), Exception);
    EXPECT_THROW(image.SetAngle(std::numeric_limits<long double>::infinity()), Exception);
    EXPECT_EQ(image.Angle(), 90);
    image.SetAngle(-1e9L);
    EXPECT_FALSE(image.Rotated().Empty());
}
