// The thumbnail list's image storage: packed images, a bounded set of unpacked ones, and what
// the list shows when an item leaves the view and comes back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

#include "CompactImage.h"
#include "Exceptions.h"
#include "ListView.h"

namespace {

constexpr int Cell = 120;
constexpr std::size_t CellBytes = Cell * Cell * 4;

const QImage &Photo() {
    static const QImage photo =
        QImage(PIXAVANT_SAMPLES "/jpg/pillow_flower.jpg").convertToFormat(QImage::Format_RGB32);
    return photo;
}

// A thumbnail as the extractor sends it: a landscape crop of a real photo centred on white,
// framed; n picks the crop so that each one differs.
QImage PhotoThumbnail(int n) {
    QImage cell(Cell, Cell, QImage::Format_RGB32);
    cell.fill(Qt::white);
    const QImage &photo = Photo();
    const QRect crop((n * 37) % (photo.width() - 236), (n * 23) % (photo.height() - 156), 236, 156);
    QPainter p(&cell);
    p.drawImage(QRect(2, 21, 116, 78), photo, crop);
    p.setPen(QColor(240, 240, 240));
    p.drawRect(0, 0, Cell - 1, Cell - 1);
    return cell;
}

// A file-type icon: a shape on the window colour that the mask makes transparent.
QImage Icon() {
    QImage cell(Cell, Cell, QImage::Format_RGB32);
    cell.fill(Qt::white);
    QPainter p(&cell);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 90, 200));
    p.drawEllipse(QRect(28, 28, 64, 64));
    return cell;
}

QImage Stripes() {
    QImage cell(Cell, Cell, QImage::Format_RGB32);
    for (int x = 0; x < Cell; ++x)
        for (int y = 0; y < Cell; ++y)
            cell.setPixel(x, y, x % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    return cell;
}

// colors distinct grey-blue shades, one per column run, the rest of the cell the first one.
QImage Shades(int colors) {
    QImage cell(Cell, Cell, QImage::Format_RGB32);
    cell.fill(qRgb(0, 0, 7));
    for (int i = 0; i < colors; ++i)
        cell.setPixel(i % Cell, i / Cell, qRgb(i % 256, i / 256, 7));
    return cell;
}

struct Difference {
    int max = 0;
    double mean = 0;
};

// Channel by channel, alpha included.
Difference Compare(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    Difference d;
    if (x.size() != y.size())
        return {1000, 1000};
    long long sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            for (int shift : {0, 8, 16, 24}) {
                const int e = std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF));
                d.max = std::max(d.max, e);
                sum += e;
            }
        }
    d.mean = double(sum) / (4.0 * x.width() * x.height());
    return d;
}

bool Same(const QImage &a, const QImage &b) {
    return Compare(a, b).max == 0;
}

// Masks an image as the icon pass does: the window colour becomes transparent.
QImage Masked(const QImage &image, QRgb key) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if ((out.pixel(x, y) & 0xFFFFFF) == (key & 0xFFFFFF))
                out.setPixel(x, y, 0);
    return out;
}

} // namespace

// Photos are packed lossily, but the eye must not see it; everything else comes back exact.
// Bounds for the photo: JPEG at quality 95 with full chroma stays within a few levels on
// average (PSNR about 40 dB) and about a tenth of the range at the worst edge.
TEST(CompactImageTest, KeepsEveryPictureKindAsTheListShowsIt) {
    ASSERT_FALSE(Photo().isNull()) << "sample photo missing";
    struct Row {
        const char *name;
        QImage image;
        TCompactImage::TKind kind;
        int maxError;
        double meanError;
        std::size_t maxBytes;
    };
    const Row rows[] = {
        {"photo", PhotoThumbnail(0), TCompactImage::TKind::Jpeg, 32, 2.0, CellBytes / 4},
        {"another crop", PhotoThumbnail(5), TCompactImage::TKind::Jpeg, 32, 2.0, CellBytes / 4},
        {"icon with transparency", Masked(Icon(), qRgb(255, 255, 255)),
         TCompactImage::TKind::Deflate, 0, 0, CellBytes / 4},
        {"photo icon with transparent surround", Masked(PhotoThumbnail(2), qRgb(255, 255, 255)),
         TCompactImage::TKind::Deflate, 0, 0, CellBytes},
        {"one-pixel stripes", Stripes(), TCompactImage::TKind::Deflate, 0, 0, CellBytes / 4},
        {"flat fill", Shades(1), TCompactImage::TKind::Deflate, 0, 0, CellBytes / 4},
        {"256 colours", Shades(256), TCompactImage::TKind::Deflate, 0, 0, CellBytes / 4},
        {"257 colours", Shades(257), TCompactImage::TKind::Jpeg, 32, 2.0, CellBytes / 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const TCompactImage packed(row.image);
        EXPECT_EQ(packed.Kind(), row.kind);
        EXPECT_LE(packed.Bytes(), row.maxBytes);
        const QImage back = packed.ToImage();
        ASSERT_EQ(back.size(), row.image.size());
        const Difference d = Compare(back, row.image);
        EXPECT_LE(d.max, row.maxError);
        EXPECT_LE(d.mean, row.meanError);
        EXPECT_TRUE(Same(packed.ToImage(), back)) << "unpacking twice must give the same";
    }
    EXPECT_TRUE(TCompactImage(QImage()).IsEmpty());
    EXPECT_TRUE(TCompactImage(QImage()).ToImage().isNull());
}

TEST(ImageListTest, KeepsUnpackedPixelsWithinItsBoundAsImagesAreAdded) {
    TImageList images(Cell, Cell);
    images.SetCacheLimit(5 * CellBytes);
    std::vector<QImage> firstSeen;
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(images.AddMasked(TBitmap(PhotoThumbnail(i)), clNone), i);
        firstSeen.push_back(images.Image(i).toImage());
        EXPECT_LE(images.CachedBytes(), 5 * CellBytes);
    }
    EXPECT_EQ(images.CachedBytes(), 5 * CellBytes);
    EXPECT_TRUE(images.IsCached(59));
    EXPECT_FALSE(images.IsCached(54));
    // Packed, 60 photos take less than 60 / 4 cells.
    EXPECT_LT(images.PackedBytes(), 15 * CellBytes);

    // Brought back after eviction: the very pixels shown before, close to what was sent.
    for (int i : {0, 17, 54}) {
        SCOPED_TRACE(i);
        const QImage again = images.Image(i).toImage();
        EXPECT_TRUE(Same(again, firstSeen[std::size_t(i)]));
        EXPECT_LE(Compare(again, PhotoThumbnail(i)).mean, 2.0);
        EXPECT_TRUE(images.IsCached(i));
    }
    // Each one brought back went to the front and pushed out the oldest: 55 to 57.
    EXPECT_TRUE(images.IsCached(58));
    EXPECT_FALSE(images.IsCached(56));

    images.Image(58); // a hit moves it to the front too,
    images.Image(1);  // so the next one pushes out 59, now the oldest
    EXPECT_TRUE(images.IsCached(58));
    EXPECT_FALSE(images.IsCached(59));

    images.SetCacheLimit(2 * CellBytes); // a smaller bound drops the oldest at once
    EXPECT_EQ(images.CachedBytes(), 2 * CellBytes);
    EXPECT_TRUE(images.IsCached(58));
    EXPECT_FALSE(images.IsCached(54));

    images.Clear();
    EXPECT_EQ(images.Count(), 0);
    EXPECT_EQ(images.CachedBytes(), 0u);
    EXPECT_EQ(images.PackedBytes(), 0u);
    EXPECT_TRUE(images.Image(0).isNull());
}

TEST(ImageListTest, ReplacedImageIsShownInsteadOfTheOneUnpackedBefore) {
    TImageList images(Cell, Cell);
    TBitmap icon(Icon());
    ASSERT_EQ(images.AddMasked(icon, 0xFFFFFF), 0);
    const QImage shown = images.Image(0).toImage();
    EXPECT_EQ(qAlpha(shown.pixel(2, 2)), 0);
    images.Replace(0, TBitmap(PhotoThumbnail(3)), clNone);
    EXPECT_LE(Compare(images.Image(0).toImage(), PhotoThumbnail(3)).mean, 2.0);
    EXPECT_EQ(images.CachedBytes(), CellBytes); // the icon's pixels went with it
    EXPECT_THROW(images.Replace(1, icon, clNone), EInvalidOperation);
}

class ListViewStorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        List.SetLargeImages(&Images);
        List.resize(420, 330);
        List.show();
    }
    // What the list shows now, painted.
    QImage Shot() {
        QApplication::processEvents();
        return List.viewport()->grab().toImage();
    }
    TImageList Images{Cell, Cell};
    TListView List;
};

// Every item of a file type shows the one icon image: the list neither packs nor unpacks it
// once per item.
TEST_F(ListViewStorageTest, ItemsSharingAnIconShareItsPixels) {
    ASSERT_EQ(Images.AddMasked(TBitmap(Icon()), 0xFFFFFF), 0);
    const std::size_t packed = Images.PackedBytes();
    for (int i = 0; i < 500; ++i)
        List.AddItem("IMG_" + std::to_string(i) + ".png", 0);
    for (int i = 0; i < 500; i += 40) {
        List.scrollToItem(List.item(i));
        Shot();
    }
    EXPECT_EQ(Images.Count(), 1);
    EXPECT_EQ(Images.PackedBytes(), packed);
    EXPECT_EQ(Images.CachedBytes(), CellBytes);
    const auto pixmapOf = [&](int i) {
        return List.item(i)->data(Qt::DecorationRole).value<QIcon>().pixmap(Cell, Cell);
    };
    EXPECT_EQ(pixmapOf(0).cacheKey(), pixmapOf(499).cacheKey());
}

// Scrolling through many thumbnails unpacks only what is shown (within the bound); scrolling
// back shows exactly what was shown before.
TEST_F(ListViewStorageTest, ScrollingAwayAndBackShowsTheSameThumbnails) {
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        List.AddItem("IMG_" + std::to_string(i) + ".jpg");
        List.SetImageIndex(i, Images.AddMasked(TBitmap(PhotoThumbnail(i)), clNone));
    }
    Images.SetCacheLimit(24 * CellBytes); // a few screens of this small list
    List.scrollToTop();
    Shot(); // lays the items out, which brings the scroll bar
    const QImage top = Shot();
    ASSERT_TRUE(Images.IsCached(0));
    for (int i = 0; i < n; i += 6) {
        List.scrollToItem(List.item(i));
        Shot();
        ASSERT_LE(Images.CachedBytes(), Images.CacheLimit());
    }
    List.scrollToBottom();
    Shot();
    EXPECT_FALSE(Images.IsCached(0)) << "the first page should have been let go";
    EXPECT_TRUE(Images.IsCached(n - 1));
    List.scrollToTop();
    EXPECT_TRUE(Same(Shot(), top));
    EXPECT_TRUE(Images.IsCached(0));
}

// A view bigger than the bound raises it: a screenful never unpacks itself over and over.
TEST_F(ListViewStorageTest, BoundCoversTwoScreensOfCells) {
    Images.SetCacheLimit(CellBytes);
    List.resize(1000, 800);
    Shot();
    const QSize grid = List.gridSize();
    const std::size_t cells = std::size_t(List.viewport()->width() / grid.width() + 2) *
                              std::size_t(List.viewport()->height() / grid.height() + 2);
    const qreal ratio = List.devicePixelRatioF();
    EXPECT_GE(Images.CacheLimit(), std::size_t(2 * cells * CellBytes * ratio * ratio));
}

// Updates nest: the items stay hidden until the last one ends, then show as before.
TEST_F(ListViewStorageTest, NestedUpdatesShowTheItemsOnlyWhenTheLastEnds) {
    ASSERT_EQ(Images.AddMasked(TBitmap(Icon()), 0xFFFFFF), 0);
    for (int i = 0; i < 6; ++i)
        List.AddItem("IMG_" + std::to_string(i) + ".png", 0);
    Shot();
    const QImage shown = Shot();
    List.BeginUpdate();
    EXPECT_FALSE(Same(Shot(), shown));
    List.BeginUpdate();
    List.EndUpdate();
    EXPECT_FALSE(Same(Shot(), shown)) << "an inner update ended the outer one";
    List.EndUpdate();
    EXPECT_TRUE(Same(Shot(), shown));
    List.EndUpdate(); // one too many changes nothing
    EXPECT_EQ(List.UpdateCount(), 0);
    EXPECT_TRUE(Same(Shot(), shown));
}
