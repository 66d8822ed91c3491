// The picture extractors, the shared thumbnail cache, the shell helpers and file icons.
#include <gtest/gtest.h>

#include <functional>

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QImageReader>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "DecodeSandbox.h"
#include "DecoderStamp.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "HostileJpeg.h"
#include "HostileWmf.h"
#include "ShellExtract.h"
#include "ShellFakes.h"
#include "ShellIcons.h"
#include "ShellObjHelper.h"
#include "TestUtil.h"

using namespace shelltest;

namespace {

struct Result {
    bool Made = false;
    QImage Image;
    DWORD Flags = 0;
};

class Extraction : public ::testing::Test {
protected:
    Extraction() { qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(Cache.path())); }
    ~Extraction() override { qunsetenv("XDG_CACHE_HOME"); }

public:
    static Result Thumb(const std::string &path, int w = 120, int h = 120, DWORD flags = 0,
                        unsigned depth = 32) {
        Result r;
        ComPtr<IExtractImage> extractor;
        if (!GetExtractImageForFile(path, extractor))
            return r;
        ComPtr<IRunnableTask> task;
        std::unique_ptr<TBitmap> bitmap;
        r.Flags = flags;
        r.Made = GetThumbnailBitmap(extractor.Get(), w, h, depth, r.Flags, task, bitmap);
        if (bitmap)
            r.Image = bitmap->Image();
        return r;
    }

    std::string Picture(const std::string &name, int w, int h, QColor colour = Qt::red,
                        const char *format = "png") {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        const std::string path = Dir.file(name);
        EXPECT_TRUE(image.save(QString::fromStdString(path), format));
        return path;
    }

    static void SetMTime(const std::string &path, time_t seconds) {
        const timeval times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimes(path.c_str(), times), 0);
    }

    static int Mode(const std::string &path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }

    testutil::TempDir Dir;
    testutil::TempDir Cache;
};

TEST_F(Extraction, PictureFitsTheBoxKeepingItsAspectAndIsNeverEnlarged) {
    EXPECT_EQ(Thumb(Picture("wide.png", 400, 200)).Image.size(), QSize(120, 60));
    EXPECT_EQ(Thumb(Picture("tall.bmp", 100, 300, Qt::red, "bmp")).Image.size(), QSize(40, 120));
    EXPECT_EQ(Thumb(Picture("small.png", 50, 30)).Image.size(), QSize(50, 30));
    EXPECT_EQ(Thumb(Picture("photo.jpg", 3000, 2000, Qt::blue, "jpeg")).Image.size(),
              QSize(120, 80));
    EXPECT_EQ(Thumb(Picture("page.tif", 300, 300, Qt::blue, "tiff")).Image.size(), QSize(120, 120));
    // Beyond the cache sizes the picture is made for the box directly.
    EXPECT_EQ(Thumb(Dir.file("wide.png"), 300, 300).Image.size(), QSize(300, 150));
    // Cropped to cover the box when asked to keep the approximate size.
    EXPECT_EQ(Thumb(Dir.file("wide.png"), 300, 300, IEIFLAG_ORIGSIZE).Image.size(),
              QSize(300, 200));
}

TEST_F(Extraction, SixteenColourPicturesUseTheStandardVgaColours) {
    // The 16 colours of a 4-bit Windows display, in their usual order.
    const QRgb vga[16] = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    for (const QRgb colour : vga) {
        SCOPED_TRACE(QColor(colour).name().toStdString());
        const std::string path =
            Picture("vga" + std::to_string(colour & 0xFFFFFF) + ".png", 40, 40, QColor(colour));
        const Result r = Thumb(path, 40, 40, 0, 4);
        ASSERT_TRUE(r.Made);
        EXPECT_EQ(r.Image.pixel(20, 20) & 0xFFFFFF, colour & 0xFFFFFF);
    }
    // A colour outside the set becomes one of them.
    const Result r = Thumb(Picture("orange.png", 40, 40, QColor(250, 130, 20)), 40, 40, 0, 4);
    ASSERT_TRUE(r.Made);
    const QRgb got = r.Image.pixel(20, 20) | 0xFF000000;
    EXPECT_NE(std::find(std::begin(vga), std::end(vga), got), std::end(vga));
}

TEST_F(Extraction, TypeComesFromTheContentNotTheName) {
    const std::string png = Picture("x.png", 64, 64, Qt::green);
    const std::string disguised = Dir.file("really-a-png.jpg");
    std::filesystem::copy_file(png, disguised);
    const Result r = Thumb(disguised);
    ASSERT_TRUE(r.Made);
    EXPECT_EQ(r.Image.pixel(10, 10), qRgb(0, 255, 0));

    testutil::WriteFile(Dir.file("notes.png"), std::string("just some text, not a picture"));
    testutil::WriteFile(Dir.file("empty.jpg"), std::string());
    ComPtr<IExtractImage> extractor;
    EXPECT_FALSE(GetExtractImageForFile(Dir.file("notes.png"), extractor));
    EXPECT_FALSE(GetExtractImageForFile(Dir.file("empty.jpg"), extractor));
    EXPECT_FALSE(extractor);
}

TEST_F(Extraction, ExifOrientationIsApplied) {
    PIXAVANT_REQUIRE_SAMPLES();
    for (const char *name : {"jpg/fp_Portrait_6.jpg", "jpg/goexif_f6-exif.jpg",
                             "jpg/fp_Landscape_5.jpg", "jpg/vips_rotation_8.jpg"}) {
        const std::string path = testutil::Sample(name);
        QImageReader raw(QString::fromStdString(path));
        raw.setAutoTransform(false);
        const QSize stored = raw.size();
        ASSERT_TRUE(stored.isValid()) << name;
        ASSERT_NE(stored.width(), stored.height()) << name;
        const Result r = Thumb(path);
        ASSERT_TRUE(r.Made) << name;
        EXPECT_EQ(r.Image.width() > r.Image.height(), stored.height() > stored.width()) << name;
    }
}

// A JPEG with a camera-style EXIF block whose IFD1 carries a small JPEG picture.
std::vector<std::uint8_t> WithExifThumbnail(const QImage &main, const QImage &thumb) {
    auto jpeg = [](const QImage &image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "jpeg", 90);
        return bytes;
    };
    const QByteArray big = jpeg(main), small = jpeg(thumb);
    std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 14, 0, 0, 0};
    auto u16 = [&](unsigned v) {
        tiff.insert(tiff.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    };
    auto u32 = [&](unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    u16(2);
    u16(0x0201), u16(4), u32(1), u32(44);
    u16(0x0202), u16(4), u32(1), u32(unsigned(small.size()));
    u32(0);
    tiff.insert(tiff.end(), small.begin(), small.end());
    const std::size_t length = 2 + 6 + tiff.size();
    std::vector<std::uint8_t> out = {
        0xFF, 0xD8, 0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length), 'E', 'x',
        'i',  'f',  0,    0};
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), big.begin() + 2, big.end());
    return out;
}

TEST_F(Extraction, CameraThumbnailIsUsedOnlyWhenItCoversTheBoxAndShowsTheWholeFrame) {
    auto filled = [](int w, int h, QColor c) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(c);
        return image;
    };
    auto centre = [](const Result &r) {
        return QColor(r.Image.pixel(r.Image.width() / 2, r.Image.height() / 2));
    };
    auto write = [&](const char *name, QSize main, QSize thumb) {
        testutil::WriteFile(Dir.file(name),
                            WithExifThumbnail(filled(main.width(), main.height(), Qt::red),
                                              filled(thumb.width(), thumb.height(), Qt::green)));
        return Thumb(Dir.file(name));
    };
    const Result a = write("a.jpg", {1200, 900}, {160, 120});
    const Result b = write("b.jpg", {1200, 800}, {160, 120});
    const Result c = write("c.jpg", {1200, 900}, {100, 75});
    EXPECT_EQ(a.Image.size(), QSize(120, 90));
    EXPECT_GT(centre(a).green(), 200);
    EXPECT_GT(centre(b).red(), 200) << "letterboxed camera picture used";
    EXPECT_GT(centre(c).red(), 200) << "too small a camera picture used";
    EXPECT_GT(centre(Thumb(Dir.file("a.jpg"), 600, 600)).red(), 200);
}

TEST_F(Extraction, CacheEntryIsWrittenPrivatelyAndUsedUntilTheFileChanges) {
    const std::string path = Picture("p.png", 300, 200, Qt::red);
    SetMTime(path, 1600000000);
    const std::string entry = ThumbnailCachePath(path, false);
    ASSERT_EQ(entry.rfind(Cache.path() + "/thumbnails/normal/", 0), 0u) << entry;

    // Miss: extracted and stored at the normal size with the file's URI and time.
    Result first = Thumb(path);
    ASSERT_TRUE(first.Made);
    EXPECT_FALSE(first.Flags & IEIFLAG_CACHE); // this thumbnail is kept
    ASSERT_TRUE(testutil::FileExists(entry));
    EXPECT_EQ(Mode(entry), 0600);
    EXPECT_EQ(Mode(Cache.path() + "/thumbnails/normal"), 0700);
    const QImage stored(QString::fromStdString(entry));
    EXPECT_EQ(stored.text("Thumb::MTime"), "1600000000");
    EXPECT_EQ(stored.text("Thumb::URI").toStdString(), "file://" + path);
    EXPECT_EQ(stored.size(), QSize(128, 85));

    // Hit: the stored picture is used (made recognisable here), the file is not read.
    QImage marked(128, 85, QImage::Format_RGB32);
    marked.fill(Qt::yellow);
    marked.setText("Thumb::URI", QString::fromStdString("file://" + path));
    marked.setText("Thumb::MTime", "1600000000");
    ASSERT_TRUE(marked.save(QString::fromStdString(entry), "png"));
    Result hit = Thumb(path);
    ASSERT_TRUE(hit.Made);
    EXPECT_EQ(hit.Image.pixel(60, 40), qRgb(255, 255, 0));

    // A link in the entry's place is no entry of the cache's, wherever it points.
    const std::string outside = Dir.file("planted.png");
    std::filesystem::rename(entry, outside);
    ASSERT_EQ(::symlink(outside.c_str(), entry.c_str()), 0);
    Result linked = Thumb(path);
    ASSERT_TRUE(linked.Made);
    EXPECT_EQ(linked.Image.pixel(60, 40), qRgb(255, 0, 0));
    ASSERT_TRUE(std::filesystem::remove(entry));
    std::filesystem::rename(outside, entry);

    // Stale: the file changed, so it is extracted again and the entry renewed.
    SetMTime(path, 1600000100);
    Result fresh = Thumb(path);
    ASSERT_TRUE(fresh.Made);
    EXPECT_EQ(fresh.Image.pixel(60, 40), qRgb(255, 0, 0));
    EXPECT_EQ(QImage(QString::fromStdString(entry)).text("Thumb::MTime"), "1600000100");

    // Larger requests use the large entry; requests beyond it are not cached at all.
    EXPECT_TRUE(Thumb(path, 200, 200).Made);
    EXPECT_TRUE(testutil::FileExists(ThumbnailCachePath(path, true)));
    EXPECT_TRUE(Thumb(path, 800, 600).Flags & IEIFLAG_CACHE);
}

TEST_F(Extraction, CacheEntriesHaveTheSizesOfTheSharedThumbnailStandard) {
    // Normal entries fit 128 x 128 and large ones 256 x 256; a box beyond that is not cached.
    struct Row {
        int Box;
        bool Large;
        QSize Entry;
    } rows[] = {
        {120, false, QSize(128, 64)}, {128, false, QSize(128, 64)}, {129, true, QSize(256, 128)},
        {256, true, QSize(256, 128)}, {257, false, QSize()},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Box);
        const std::string path = Picture("wide" + std::to_string(row.Box) + ".png", 1000, 500);
        const Result r = Thumb(path, row.Box, row.Box);
        ASSERT_TRUE(r.Made);
        if (row.Entry.isEmpty()) {
            EXPECT_FALSE(testutil::FileExists(ThumbnailCachePath(path, false)));
            EXPECT_FALSE(testutil::FileExists(ThumbnailCachePath(path, true)));
        } else {
            const QImage entry(QString::fromStdString(ThumbnailCachePath(path, row.Large)));
            EXPECT_EQ(entry.size(), row.Entry);
        }
    }
}

TEST_F(Extraction, BrokenFileIsNotRetriedUntilItOrTheDecodersChange) {
    const std::string path = Dir.file("broken.png");
    const std::string good = Picture("good.png", 40, 40, Qt::blue);
    auto bytes = testutil::ReadFile(good);
    bytes.resize(bytes.size() / 2);
    testutil::WriteFile(path, bytes);
    SetMTime(path, 1500000000);
    EXPECT_FALSE(Thumb(path).Made);
    EXPECT_TRUE(testutil::FileExists(ThumbnailFailPath(path)));

    // Repaired but with the same time: the failure entry still stands.
    std::filesystem::copy_file(good, path, std::filesystem::copy_options::overwrite_existing);
    SetMTime(path, 1500000000);
    EXPECT_FALSE(Thumb(path).Made);
    SetMTime(path, 1500000200);
    EXPECT_TRUE(Thumb(path).Made);

    // A failure found by other decoders (here: an entry from before decoders were stamped)
    // is tried again, and the picture gets its thumbnail.
    std::filesystem::remove(ThumbnailCachePath(path, false));
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    WriteThumbnailEntry(ThumbnailFailPath(path), mark, ThumbnailUri(path), 1500000200);
    EXPECT_TRUE(Thumb(path).Made);
    EXPECT_FALSE(testutil::FileExists(ThumbnailFailPath(path)));
}

TEST_F(Extraction, FolderStampChangesWhenAFileComesOrGoesBelowIt) {
    const std::string fonts = Dir.file("fonts");
    std::filesystem::create_directories(fonts + "/type1/urw");
    const std::string before = FolderStamp({fonts});
    EXPECT_EQ(FolderStamp({fonts}), before);
    testutil::WriteFile(fonts + "/type1/urw/new.t1", std::string("font"));
    const std::string added = FolderStamp({fonts});
    EXPECT_NE(added, before);
    std::filesystem::remove(fonts + "/type1/urw/new.t1");
    EXPECT_NE(FolderStamp({fonts}), added);
}

TEST_F(Extraction, MetafileTextIsDrawnInTheFontsOfWindowsFaces) {
    // Fails where the fonts that stand in for Windows faces (fonts-urw-base35) or ImageMagick's
    // metafile coder are missing: such a machine shows every metafile with text as an icon.
    for (const char *face : {"Arial", "Times New Roman"}) {
        SCOPED_TRACE(face);
        const std::string path = Dir.file(std::string(face) + ".wmf");
        testutil::WriteFile(path, hostile::TextWmf(face, "Pixavant"));
        const Result r = Thumb(path, 256, 256);
        ASSERT_TRUE(r.Made);
        // Dark pixels inside the page's frame are the text's.
        int ink = 0;
        for (int y = 4; y < r.Image.height() - 4; ++y)
            for (int x = 4; x < r.Image.width() - 4; ++x)
                ink += qGray(r.Image.pixel(x, y)) < 128;
        EXPECT_GT(ink, 200);
    }
}

TEST_F(Extraction, KilledExtractionFailsWithoutMarkingTheFileBroken) {
    const std::string path = Picture("k.jpg", 2000, 1500, Qt::red, "jpeg");
    std::vector<std::string> lines;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.DebugOutput = [&](const std::string &line) { lines.push_back(line); };
    });
    ComPtr<IExtractImage> extractor;
    ASSERT_TRUE(GetExtractImageForFile(path, extractor));
    SIZE size{120, 120};
    DWORD priority = 0, flags = IEIFLAG_ASYNC;
    char16_t buffer[MAX_PATH + 1];
    ASSERT_EQ(extractor->GetLocation(buffer, MAX_PATH + 1, &priority, &size, 32, &flags),
              E_PENDING);
    ComPtr<IRunnableTask> task;
    ASSERT_EQ(extractor->QueryInterface(IID_IRunnableTask, task.PutVoid()), S_OK);
    EXPECT_EQ(task->IsRunning(), 0u); // IRTIR_TASK_NOT_RUNNING
    task->Kill(0);
    EXPECT_EQ(task->IsRunning(), 4u); // IRTIR_TASK_FINISHED
    HBITMAP bitmap = nullptr;
    EXPECT_EQ(extractor->Extract(&bitmap), E_ABORT);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_FALSE(testutil::FileExists(ThumbnailFailPath(path)));
    EXPECT_FALSE(testutil::FileExists(ThumbnailCachePath(path, false)));

    // A cancel that came before the task was handed out still stops it.
    ComPtr<IExtractImage> second;
    ASSERT_TRUE(GetExtractImageForFile(path, second));
    flags = 0;
    std::unique_ptr<TBitmap> out;
    TRunnableTaskSlot slot;
    slot.Kill();
    EXPECT_FALSE(GetThumbnailBitmap(second.Get(), 120, 120, 32, flags, slot, out));
    EXPECT_FALSE(out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("EOleSysError: ", 0), 0u) << lines[0];
}

TEST_F(Extraction, AFirstVisitShowsWhatLaterVisitsReadFromTheCacheFilledAhead) {
    QImage photo(500, 333, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x % 256, (x * y) % 253, (3 * x + y) % 256));
    QImage alpha = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y)
        alpha.setPixel(y, y, qRgba(255, 0, 0, y % 256));
    const struct {
        const char *Name;
        QImage Picture;
        const char *Format;
    } pictures[] = {
        {"photo.jpg", photo, "jpeg"},
        {"grey.jpg", photo.convertToFormat(QImage::Format_Grayscale8), "jpeg"},
        {"palette.bmp", photo.convertToFormat(QImage::Format_Indexed8), "bmp"},
        {"alpha.png", alpha, "png"},
    };
    for (const auto &p : pictures) {
        const std::string path = Dir.file(p.Name);
        ASSERT_TRUE(p.Picture.save(QString::fromStdString(path), p.Format)) << p.Name;
        const std::string entry = ThumbnailCachePath(path, false);
        const Result first = Thumb(path);
        ASSERT_TRUE(first.Made) << p.Name;
        ASSERT_TRUE(std::filesystem::remove(entry)) << p.Name;

        ComPtr<IRunnableTask> task;
        ASSERT_EQ(CreateThumbnailPrefetch(path, SIZE{120, 120}, 32, IEIFLAG_ASYNC, task.PutVoid()),
                  S_OK)
            << p.Name;
        EXPECT_EQ(task->Run(), S_OK) << p.Name;
        ASSERT_TRUE(testutil::FileExists(entry)) << p.Name;
        const Result later = Thumb(path);
        ASSERT_TRUE(later.Made) << p.Name;
        EXPECT_TRUE(later.Image == first.Image) << p.Name;
    }
}

TEST_F(Extraction, APrefetchIsRefusedWhereItWouldFillNothingAndAKilledOneMarksNothing) {
    const std::string picture = Picture("p.png", 300, 200);
    testutil::WriteFile(Dir.file("notes.txt"), std::string("not a picture"));
    const struct {
        const char *Case;
        std::string Path;
        SIZE Size;
        DWORD Flags;
        bool StandIns;
    } refused[] = {
        {"no picture", Dir.file("notes.txt"), {120, 120}, IEIFLAG_ASYNC, false},
        {"no file", Dir.file("gone.png"), {120, 120}, IEIFLAG_ASYNC, false},
        {"beyond the cache", picture, {800, 600}, IEIFLAG_ASYNC, false},
        {"decoded again anyway", picture, {120, 120}, IEIFLAG_ASYNC | IEIFLAG_QUALITY, false},
        {"stand-in extractors", picture, {120, 120}, IEIFLAG_ASYNC, true},
    };
    for (const auto &r : refused) {
        std::unique_ptr<TServicesScope> scope;
        if (r.StandIns)
            scope = testutil::ChangeServices([](TPlatformServices &s) {
                s.CreateExtractImage = [](const std::string &, void **) { return E_NOINTERFACE; };
            });
        void *out = reinterpret_cast<void *>(1);
        EXPECT_EQ(CreateThumbnailPrefetch(r.Path, r.Size, 32, r.Flags, &out), E_NOINTERFACE)
            << r.Case;
        EXPECT_EQ(out, nullptr) << r.Case;
    }
    EXPECT_FALSE(std::filesystem::exists(Cache.path() + "/thumbnails"));

    // Killed before it ran: nothing stored, and the file is not marked broken.
    ComPtr<IRunnableTask> task;
    ASSERT_EQ(CreateThumbnailPrefetch(picture, SIZE{120, 120}, 32, IEIFLAG_ASYNC, task.PutVoid()),
              S_OK);
    task->Kill(0);
    EXPECT_EQ(task->Run(), E_ABORT);
    EXPECT_FALSE(testutil::FileExists(ThumbnailCachePath(picture, false)));
    EXPECT_FALSE(testutil::FileExists(ThumbnailFailPath(picture)));

    // A damaged picture is marked, so that its extraction does not decode it again.
    const std::string broken = Dir.file("broken.png");
    auto bytes = testutil::ReadFile(picture);
    bytes.resize(bytes.size() / 2);
    testutil::WriteFile(broken, bytes);
    ASSERT_EQ(CreateThumbnailPrefetch(broken, SIZE{120, 120}, 32, IEIFLAG_ASYNC, task.PutVoid()),
              S_OK);
    EXPECT_EQ(task->Run(), E_FAIL);
    EXPECT_TRUE(testutil::FileExists(ThumbnailFailPath(broken)));
}

// Each extraction's budget, for one test.
class Budget {
public:
    explicit Budget(std::chrono::milliseconds ms) { SetExtractionBudget(ms); }
    ~Budget() { SetExtractionBudget(std::chrono::milliseconds(DefaultExtractionBudgetMs)); }
};

TEST_F(Extraction, AMetafileIsDrawnOnlyAsLargeAsItsThumbnail) {
    // 4000 x 4000 filled a hundred times: minutes at full size, a blink at thumbnail size.
    const std::string path = Dir.file("slow.wmf");
    testutil::WriteFile(path, hostile::SlowWmf(4000, 100));
    const Result r = Thumb(path);
    ASSERT_TRUE(r.Made);
    EXPECT_EQ(r.Image.size(), QSize(120, 120));
    EXPECT_EQ(r.Image.pixelColor(60, 60), hostile::LastRectangleColour(100));
}

TEST_F(Extraction, AMetafileOverThePixelLimitIsRefusedAndOneUnderItDrawn) {
    // 120 million pixels: 10954 x 10954 is just under, 10955 x 10955 just over.
    for (const int side : {10954, 10955}) {
        SCOPED_TRACE(side);
        const std::string path = Dir.file("side" + std::to_string(side) + ".wmf");
        testutil::WriteFile(path, hostile::SlowWmf(side, 1));
        EXPECT_EQ(Thumb(path).Made, side == 10954);
    }
}

TEST_F(Extraction, TheSmallestMetafileIsStillAPicture) {
    const std::string path = Dir.file("dot.wmf");
    testutil::WriteFile(path, hostile::SlowWmf(1, 1));
    const Result r = Thumb(path);
    ASSERT_TRUE(r.Made);
    EXPECT_EQ(r.Image.size(), QSize(1, 1)) << r.Image.width() << "x" << r.Image.height();
}

TEST_F(Extraction, APictureOverItsTimeBudgetIsStoppedAndNotTriedAgain) {
    std::vector<std::string> lines;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.DebugOutput = [&](const std::string &line) { lines.push_back(line); };
    });
    Budget budget(std::chrono::milliseconds(200));
    // Many full-frame fills even at thumbnail size, and a JPEG of many scans under the work
    // bound: both take seconds.
    const std::string wmf = Dir.file("slow.wmf");
    testutil::WriteFile(wmf, hostile::SlowWmf(4000, 3000));
    const std::string jpeg = Dir.file("scans.jpg");
    testutil::WriteFile(jpeg, hostile::ManyScanJpeg(2048, 2048, 1500));
    for (const std::string &path : {wmf, jpeg}) {
        SCOPED_TRACE(path);
        lines.clear();
        EXPECT_FALSE(Thumb(path).Made);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0],
                  "EOleSysError: This operation returned because the timeout period expired.");
        EXPECT_TRUE(testutil::FileExists(ThumbnailFailPath(path)));
        EXPECT_FALSE(Thumb(path).Made); // from the failure entry
    }
}

TEST_F(Extraction, AJpegOverTheWorkBoundIsRefusedBeforeItIsDecoded) {
    const std::string path = Dir.file("bomb.jpg");
    testutil::WriteFile(path, hostile::ManyScanJpeg(2048, 2048, 2000));
    const std::string fine = Dir.file("fine.jpg");
    testutil::WriteFile(fine, hostile::ManyScanJpeg(64, 64, 2000));
    Budget budget(std::chrono::hours(1)); // only the bound stops it
    EXPECT_FALSE(Thumb(path).Made);
    EXPECT_TRUE(testutil::FileExists(ThumbnailFailPath(path)));
    EXPECT_TRUE(Thumb(fine).Made);
}

TEST_F(Extraction, AKillStopsAMetafileInTheMiddleOfItsDrawing) {
    // Drawn to its end this would take the better part of an hour.
    Budget budget(std::chrono::hours(1));
    const std::string path = Dir.file("slow.wmf");
    testutil::WriteFile(path, hostile::SlowWmf(4000, 3000));
    ComPtr<IExtractImage> extractor;
    ASSERT_TRUE(GetExtractImageForFile(path, extractor));
    SIZE size{2000, 2000}; // too large for the cache: drawn at this size
    DWORD priority = 0, flags = IEIFLAG_ASYNC;
    char16_t buffer[MAX_PATH + 1];
    ASSERT_EQ(extractor->GetLocation(buffer, MAX_PATH + 1, &priority, &size, 32, &flags),
              E_PENDING);
    ComPtr<IRunnableTask> task;
    ASSERT_EQ(extractor->QueryInterface(IID_IRunnableTask, task.PutVoid()), S_OK);
    HRESULT result = S_OK;
    HBITMAP bitmap = nullptr;
    const std::uint64_t before = DecodesRun();
    std::thread worker([&] { result = extractor->Extract(&bitmap); });
    ASSERT_TRUE(testutil::WaitFor([&] { return task->IsRunning() == 1u; }));
    // Into the drawing: the metafile is in a decoding helper's hands.
    EXPECT_TRUE(testutil::WaitFor([&] { return DecodesRun() > before; }));
    task->Kill(0);
    worker.join();
    EXPECT_EQ(result, E_ABORT);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_FALSE(testutil::FileExists(ThumbnailFailPath(path)));
}

TEST_F(Extraction, HostileAndDamagedInputsFailQuietly) {
    // A named pipe is never opened, so nothing blocks.
    const std::string fifo = Dir.file("photo.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ComPtr<IExtractImage> extractor;
    EXPECT_FALSE(GetExtractImageForFile(fifo, extractor));
    EXPECT_GE(GetSysIconIndex(fifo), 0);

    // 30000 x 30000 announced: refused before any pixel memory is taken.
    auto crc = [](const std::vector<std::uint8_t> &d, std::size_t from) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (std::size_t i = from; i < d.size(); ++i) {
            c ^= d[i];
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return ~c;
    };
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    auto chunk = [&](const char *type, std::vector<std::uint8_t> data) {
        const std::uint32_t n = std::uint32_t(data.size());
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(std::uint8_t(n >> s));
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        const std::uint32_t c = crc(png, start);
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(std::uint8_t(c >> s));
    };
    chunk("IHDR", {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30, 8, 2, 0, 0, 0});
    chunk("IDAT", {0x78, 0x9c, 0x03, 0, 0, 0, 0, 1});
    chunk("IEND", {});
    testutil::WriteFile(Dir.file("huge.png"), png);
    EXPECT_FALSE(Thumb(Dir.file("huge.png")).Made);

    // A name that is not UTF-8 keeps its bytes, in the path and in the cache's URI.
    const std::string odd = Dir.file("caf\xe9-\xff.png");
    ASSERT_EQ(::rename(Picture("plain.png", 30, 20, Qt::green).c_str(), odd.c_str()), 0);
    EXPECT_TRUE(Thumb(odd).Made);
    EXPECT_EQ(ThumbnailUri(odd).substr(ThumbnailUri(odd).size() - 14), "caf%E9-%FF.png");
    EXPECT_TRUE(testutil::FileExists(ThumbnailCachePath(odd, false)));

    if (::geteuid() != 0) { // root reads anything
        const std::string locked = Picture("locked.png", 30, 20);
        ::chmod(locked.c_str(), 0);
        EXPECT_FALSE(Thumb(locked).Made);
    }
}

// --- The helpers' own contracts -----------------------------------------------------------------

class OddFolder final : public TComObject<IShellFolder> {
public:
    HRESULT QueryInterface(REFIID, void **out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT ParseDisplayName(HWND, void *, const char *, ULONG *, LPITEMIDLIST *pidl,
                             ULONG *) override {
        *pidl = nullptr;
        return E_FAIL;
    }
    HRESULT BindToObject(LPCITEMIDLIST, void *, REFIID, void **) override { return E_FAIL; }
    HRESULT GetUIObjectOf(HWND, UINT, const LPCITEMIDLIST *, REFIID, UINT *, void **out) override {
        Fake = new FakeExtractor({});
        *out = static_cast<IExtractImage *>(Fake);
        return S_FALSE;
    }
    FakeExtractor *Fake = nullptr;
};

TEST(ShellHelpers, OnlyAPlainYesCountsAndFailuresRaise) {
    ComPtr<OddFolder> folder(new OddFolder);
    void *out = reinterpret_cast<void *>(1);
    EXPECT_FALSE(GetItemUIObject(folder.Get(), 0, nullptr, IID_IExtractImage, &out));
    EXPECT_EQ(out, nullptr);
    // Without a folder each helper fails and leaves nothing stale in its out parameter.
    const struct {
        const char *Name;
        std::function<bool(void **)> Call; // false when it reports failure by its result
    } noFolder[] = {
        {"GetItemUIObject",
         [](void **o) { return GetItemUIObject(nullptr, 0, nullptr, IID_IExtractImage, o); }},
        {"BindFolderObject",
         [](void **o) {
             EXPECT_THROW(BindFolderObject(nullptr, nullptr, IID_IShellFolder, o), EOleSysError);
             return false;
         }},
        {"ParseItemName",
         [](void **o) {
             EXPECT_THROW(ParseItemName(nullptr, "x.png", *reinterpret_cast<LPITEMIDLIST *>(o)),
                          EOleSysError);
             return false;
         }},
    };
    for (const auto &row : noFolder) {
        void *stale = reinterpret_cast<void *>(1);
        EXPECT_FALSE(row.Call(&stale)) << row.Name;
        EXPECT_EQ(stale, nullptr) << row.Name;
    }

    IMalloc *malloc = nullptr;
    ASSERT_EQ(SHGetMalloc(&malloc), S_OK);
    ComPtr<IExtractImage> extractor;
    EXPECT_THROW(GetExtractImage(folder.Get(), "x.png", malloc, extractor), EOleSysError);

    testutil::TempDir dir;
    ComPtr<IShellFolder> shellFolder;
    GetShellFolder(dir.path(), malloc, shellFolder);
    ASSERT_TRUE(shellFolder);
    try {
        GetExtractImage(shellFolder.Get(), "missing.png", malloc, extractor);
        ADD_FAILURE() << "no error for a missing file";
    } catch (const EOleSysError &e) {
        EXPECT_EQ(e.ErrorCode(), E_FILE_NOT_FOUND);
    }
    // A file in the root: the folder is the root itself.
    try {
        GetExtractImageForFile("/pixavant-no-such-picture.png", extractor);
        ADD_FAILURE() << "no error for a missing file";
    } catch (const EOleSysError &e) {
        EXPECT_EQ(e.ErrorCode(), E_FILE_NOT_FOUND);
    }
    EXPECT_THROW(GetShellFolder(dir.file("nope"), malloc, shellFolder), EOleSysError);
}

TEST(ShellHelpers, ThumbnailBitmapStoresTheTaskOnlyWhenOfferedAndReportsFailures) {
    std::vector<std::string> lines;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.DebugOutput = [&](const std::string &line) { lines.push_back(line); };
    });
    FakeBehaviour noTask;
    noTask.OfferTask = false;
    noTask.Size = QSize(30, 20);
    ComPtr<FakeExtractor> plain(new FakeExtractor(noTask));
    ComPtr<FakeExtractor> tasked(new FakeExtractor({}));
    FakeBehaviour failing;
    failing.Fail = true;
    ComPtr<FakeExtractor> broken(new FakeExtractor(failing));

    ComPtr<IRunnableTask> task;
    std::unique_ptr<TBitmap> bitmap;
    DWORD flags = 0;
    EXPECT_TRUE(GetThumbnailBitmap(plain.Get(), 120, 120, 32, flags, task, bitmap));
    EXPECT_EQ(flags & IEIFLAG_ASYNC, IEIFLAG_ASYNC);
    EXPECT_FALSE(task);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->Width(), 30);

    EXPECT_TRUE(GetThumbnailBitmap(tasked.Get(), 120, 120, 32, flags, task, bitmap));
    EXPECT_TRUE(task);
    EXPECT_TRUE(lines.empty());

    EXPECT_FALSE(GetThumbnailBitmap(broken.Get(), 120, 120, 32, flags, task, bitmap));
    EXPECT_FALSE(bitmap);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("EOleSysError: ", 0), 0u) << lines[0];
}

TEST(ShellIcons, OneIndexPerDistinctIconAndIconsForAnyFile) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("a.jpg"), std::string("x"));
    testutil::WriteFile(dir.file("b.JPG"), std::string("x"));
    const int jpg = GetSysIconIndex(dir.file("a.jpg"));
    EXPECT_EQ(GetSysIconIndex(dir.file("b.JPG")), jpg);
    EXPECT_EQ(GetSysIconIndex(dir.file("gone.jpg")), jpg); // answered by its name
    EXPECT_NE(GetSysIconIndex(dir.path()), jpg);

    SHFILEINFOA info{};
    const auto list = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("", 0, &info, sizeof(info), SHGFI_SYSICONINDEX));
    ASSERT_TRUE(list);
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(list, &cx, &cy));
    EXPECT_EQ(cx, GetSystemMetrics(SM_CXICON));

    std::unique_ptr<TIcon> icon;
    ASSERT_TRUE(GetFileIcon(dir.file("a.jpg"), icon));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->Width(), 32);

    // Icons from a worker thread as well, without touching GUI objects there.
    std::atomic<int> fromWorker = -1;
    std::thread worker([&] { fromWorker = GetSysIconIndex(dir.file("c.txt")); });
    ASSERT_TRUE(testutil::WaitFor([&] { return fromWorker >= 0; }));
    worker.join();
    EXPECT_NE(fromWorker, jpg);
}

TEST(ShellIcons, WithoutAnyIconThemeEachKindGetsADrawnPageOfItsOwnColour) {
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName(), fallback = QIcon::fallbackThemeName();
    testutil::TempDir empty, dir;
    QIcon::setThemeSearchPaths({QString::fromStdString(empty.path())});
    QIcon::setThemeName(QStringLiteral("none"));
    QIcon::setFallbackThemeName(QString());
    // Kinds no other test asked for, so the lookup really runs.
    const int text = GetSysIconIndex(dir.file("a.odt"));
    const int sheet = GetSysIconIndex(dir.file("b.ods"));
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
    QIcon::setFallbackThemeName(fallback);
    ASSERT_NE(text, sheet);

    SHFILEINFOA info{};
    const auto list = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("", 0, &info, sizeof(info), SHGFI_SYSICONINDEX));
    const TColor green = 0x00FF00;
    std::vector<QRgb> bands;
    for (const int index : {text, sheet}) {
        TBitmap bitmap(32, 32);
        bitmap.Fill(green);
        ASSERT_TRUE(ImageList_Draw(list, index, bitmap, 0, 0, ILD_NORMAL));
        const QImage &image = bitmap.Image();
        // A white page from near the left edge to near the right, top to bottom, over the
        // background: its corners are square but the top right one, which is folded.
        for (const QPoint inside : {QPoint(8, 4), QPoint(8, 28), QPoint(25, 28), QPoint(25, 12)})
            EXPECT_EQ(image.pixel(inside), qRgb(255, 255, 255)) << inside.x() << "," << inside.y();
        for (const QPoint outside : {QPoint(3, 16), QPoint(29, 16), QPoint(16, 0), QPoint(26, 3)})
            EXPECT_EQ(image.pixel(outside), ToQRgb(green)) << outside.x() << "," << outside.y();
        bands.push_back(image.pixel(16, 20));
    }
    // A coloured band across the page tells the kinds apart.
    EXPECT_NE(bands[0], bands[1]);
    EXPECT_NE(bands[0], qRgb(255, 255, 255));
}

TEST(ShellIcons, LookingUpIconsLeavesTheProgramsIconThemeAlone) {
    const QString fallback = QIcon::fallbackThemeName();
    const QString theme = QIcon::themeName();
    testutil::TempDir dir;
    // Kinds no other test asked for, so the lookup really runs.
    for (const char *name : {"a.pdf", "b.wav", "c.zip"})
        GetSysIconIndex(dir.file(name));
    EXPECT_EQ(QIcon::fallbackThemeName(), fallback);
    EXPECT_EQ(QIcon::themeName(), theme);
}

} // namespace
