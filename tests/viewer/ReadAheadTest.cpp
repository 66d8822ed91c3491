// The read-ahead's bookkeeping with a decoder of our own: a picture is handed out only for the
// file it was decoded from, a decode no longer wanted is told to stop and never held, and what
// is held stays within its bound. Also the real decodes' share of that: the cancel reaches the
// JPEG decoder, and a RAW preview is held no larger than a screen shows it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Cr2Writer.h"
#include "Exceptions.h"
#include "JpegCodec.h"
#include "ReadAhead.h"
#include "TempFolder.h"
#include "TestUtil.h"

namespace {

// Pictures that name their file in their text, so a picture of another file shows.
TScreenPicture Tagged(const TScreenRequest &request, QSize size = QSize(8, 8)) {
    TScreenPicture picture;
    picture.Image = QImage(size, QImage::Format_RGB32);
    picture.Image.setText("path", QString::fromStdString(request.Path));
    picture.Made = true;
    return picture;
}

TScreenRequest Request(const std::string &path) {
    return TScreenRequest{path, true, QSize(640, 480), 0, 0};
}

std::string PathOf(const std::optional<TScreenPicture> &picture) {
    return picture ? picture->Image.text("path").toStdString() : std::string("(none)");
}

class ReadAheadTest : public ::testing::Test {
protected:
    // Waits until the read-ahead has nothing left to do for the requests wanted.
    void WaitDecoded(TReadAhead &readAhead, int held) {
        ASSERT_TRUE(testutil::WaitFor([&] { return readAhead.Held() >= held; })) << held;
    }
    testutil::TempDir FDir;
};

TEST_F(ReadAheadTest, APictureIsHandedOutOnlyForTheFileItWasDecodedFrom) {
    const std::string a = FDir.file("a.CR2"), b = FDir.file("b.CR2"), c = FDir.file("c.CR2");
    for (const std::string &path : {a, b, c})
        testutil::WriteFile(path, path);
    TReadAhead readAhead([](const TScreenRequest &r, const std::atomic<bool> &,
                            TRunnableTaskSlot &) { return Tagged(r); });
    readAhead.Want({Request(a), Request(b), Request(c)}, std::nullopt);
    WaitDecoded(readAhead, 3);
    EXPECT_EQ(PathOf(readAhead.Ready(Request(a))), a);
    // Another size is another request.
    EXPECT_FALSE(readAhead.Ready(TScreenRequest{a, true, QSize(320, 240), 0, 0}));

    // Renamed away, replaced by another file, rewritten: none of them is the picture held.
    std::filesystem::rename(a, FDir.file("elsewhere"));
    EXPECT_FALSE(readAhead.Ready(Request(a)));
    EXPECT_EQ(PathOf(readAhead.Ready(Request(b))), b); // the others are kept
    std::filesystem::rename(c, b);
    testutil::WriteFile(c, std::string("rewritten, and longer than before"));
    for (const std::string &path : {a, b, c})
        EXPECT_EQ(PathOf(readAhead.Ready(Request(path))), "(none)") << path;
}

TEST_F(ReadAheadTest, ADecodeNoLongerWantedIsToldToStopAndNeverHeld) {
    const std::string x = FDir.file("x.CR2"), y = FDir.file("y.CR2");
    testutil::WriteFile(x, std::string("x"));
    testutil::WriteFile(y, std::string("y"));
    std::atomic<bool> entered{false}, sawCancel{false};
    TReadAhead readAhead(
        [&](const TScreenRequest &r, const std::atomic<bool> &cancel, TRunnableTaskSlot &) {
            if (r.Path == x) {
                entered = true;
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!cancel && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sawCancel = cancel.load();
            }
            return Tagged(r);
        });
    readAhead.Want({Request(x)}, std::nullopt);
    ASSERT_TRUE(testutil::WaitFor([&] { return entered.load(); }));
    // The direction changes: y is wanted instead.
    readAhead.Want({Request(y)}, std::nullopt);
    WaitDecoded(readAhead, 1);
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(readAhead.Cancelled(), 1);
    EXPECT_FALSE(readAhead.Ready(Request(x)));
    EXPECT_EQ(PathOf(readAhead.Ready(Request(y))), y);
    // A folder left behind: nothing of it is held.
    readAhead.Clear();
    EXPECT_EQ(readAhead.Held(), 0);
}

TEST_F(ReadAheadTest, SteppingOnHoldsAtMostFivePictures) {
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back(FDir.file(std::to_string(i) + ".CR2"));
        testutil::WriteFile(files.back(), files.back());
    }
    const QSize screen(640, 480);
    TReadAhead readAhead([&](const TScreenRequest &r, const std::atomic<bool> &,
                             TRunnableTaskSlot &) { return Tagged(r, screen); });
    const auto at = [&](int i) { return Request(files[std::size_t((i + 12) % 12)]); };
    for (int i = 0; i < 12; ++i) {
        // Forward, but every fourth step back: two ahead, one behind, and the one shown.
        const int d = i % 4 == 3 ? -1 : 1;
        readAhead.Want({at(i + d), at(i + 2 * d), at(i - d)}, at(i));
        ASSERT_TRUE(testutil::WaitFor([&] {
            return readAhead.Ready(at(i + d)) && readAhead.Ready(at(i + 2 * d)) &&
                   readAhead.Ready(at(i - d));
        }));
        // The three wanted and the one shown; nothing else is kept.
        EXPECT_LE(readAhead.Held(), 4);
        EXPECT_LE(readAhead.HeldBytes(),
                  std::size_t(TReadAhead::MaxHeld) * screen.width() * screen.height() * 4);
    }
}

TEST(ReadAheadDecode, ARaisedCancelStopsTheJpegDecode) {
    const cr2::Bytes jpeg = cr2::EncodeJpeg(cr2::QuarterPicture(256, 256));
    std::atomic<bool> cancel{false};
    EXPECT_EQ(DecodeJpeg(jpeg.data(), jpeg.size(), 1, &cancel).width(), 256);
    cancel = true;
    try {
        DecodeJpeg(jpeg.data(), jpeg.size(), 1, &cancel);
        ADD_FAILURE() << "decoded in full";
    } catch (const EJPEG &e) {
        EXPECT_EQ(e.Message(), JpegCancelledMessage);
    }
}

TEST(ReadAheadDecode, OnlyARegularFileHasAnIdentity) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("a.jpg"), std::string("x"));
    ASSERT_EQ(::mkdir(dir.file("folder.jpg").c_str(), 0755), 0);
    EXPECT_NE(ScreenFileIdentity(dir.file("a.jpg")), "");
    EXPECT_EQ(ScreenFileIdentity(dir.file("folder.jpg")), "");
    EXPECT_EQ(ScreenFileIdentity(dir.file("gone.jpg")), "");
}

TEST(ReadAheadDecode, AStripOfOnePixelKeepsItsRowOrColumn) {
    // Decoded at an eighth, 5000 pixels long; a fit on 1920 x 1080 shows 0.384 of it, less than
    // half a pixel across.
    const struct {
        QSize Stored, Held;
    } cases[] = {{{1, 40000}, {1, 1920}}, {{40000, 1}, {1920, 1}}};
    for (const auto &c : cases) {
        const cr2::Bytes jpeg =
            cr2::EncodeJpeg(cr2::QuarterPicture(c.Stored.width(), c.Stored.height()));
        const std::vector<std::uint8_t> bytes(jpeg.begin(), jpeg.end());
        EXPECT_EQ(PreviewForScreen(bytes, QSize(1920, 1080), nullptr).size(), c.Held);
    }
}

TEST(ReadAheadDecode, ARawPreviewIsHeldNoLargerThanTheScreenShowsOfIt) {
    testutil::TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    // Upright on an 800 x 600 screen it shows 0.143 of itself; turned a quarter, its 4000
    // columns fill the 600 rows: 0.15 of it, 600 x 630, is what a fit can ever show.
    const QSize screen(800, 600);
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(4000, 4200));
    // Stored as it is and turned a quarter clockwise to stand upright (orientation 6), its
    // top-left quarter is the stored bottom-left one, blue.
    for (const int orientation : {1, 6}) {
        SCOPED_TRACE(orientation);
        options.Orientation = orientation;
        cr2::WriteCr2(dir.file("tall.CR2"), options);
        const QImage image = DecodeRawForScreen(dir.file("tall.CR2"), screen, 1);
        EXPECT_EQ(image.size(), orientation == 1 ? QSize(600, 630) : QSize(630, 600));
        EXPECT_EQ(image.pixelColor(100, 100).blue() > 128, orientation == 6);
        EXPECT_FALSE(testutil::FileExists(TempPreviewPath(TempPreview::Viewer, 1)));
    }
}

} // namespace
