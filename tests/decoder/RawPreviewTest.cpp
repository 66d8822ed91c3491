// The extraction call end to end: CR2 files built around known pictures, upright output for
// every orientation, the temporary preview after failures, the samples of real cameras, and
// the control word and streams around the library call.
#include <gtest/gtest.h>

#include "Cr2Writer.h"
#include "DecoderIo.h"
#include "Exceptions.h"
#include "Mervante.h"
#include "PreviewPicture.h"
#include "RawPreview.h"
#include "TestUtil.h"

#include <QDir>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testutil::TempDir;

// Points the per-user temporary folder at a fresh folder for the test's lifetime.
class RawPreviewTest : public testing::Test {
protected:
    void SetUp() override {
        const char *old = std::getenv("XDG_RUNTIME_DIR");
        FOldRuntime = old ? old : "";
        FHadRuntime = old != nullptr;
        ::setenv("XDG_RUNTIME_DIR", FRuntime.path().c_str(), 1);
    }
    void TearDown() override {
        if (FHadRuntime)
            ::setenv("XDG_RUNTIME_DIR", FOldRuntime.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    std::string Cr2(const std::string &name, const cr2::Bytes &preview, int orientation = 1) {
        cr2::Cr2Options o;
        o.PreviewJpeg = preview;
        o.Orientation = orientation;
        const std::string path = FFiles.file(name);
        cr2::WriteCr2(path, o);
        return path;
    }

    TempDir FRuntime;
    TempDir FFiles;
    std::string FOldRuntime;
    bool FHadRuntime = false;
};

enum Colour { Red, Green, Blue, White };

Colour ColourAt(const QImage &p, int x, int y) {
    const QRgb px = p.pixel(x, y);
    const bool r = qRed(px) > 128, g = qGreen(px) > 128, b = qBlue(px) > 128;
    if (r && g && b)
        return White;
    return r ? Red : g ? Green : Blue;
}

// Corners of the quarter picture (top-left red, top-right green, bottom-left blue,
// bottom-right white) once shown upright, per orientation tag.
struct Upright {
    int Orientation;
    bool Turned; // width and height swap
    Colour TopLeft, TopRight, BottomLeft, BottomRight;
};
const Upright Orientations[] = {
    {1, false, Red, Green, Blue, White}, {2, false, Green, Red, White, Blue},
    {3, false, White, Blue, Green, Red}, {4, false, Blue, White, Red, Green},
    {5, true, Red, Blue, Green, White},  {6, true, Blue, Red, White, Green},
    {7, true, White, Green, Blue, Red},  {8, true, Green, White, Red, Blue},
};

#if defined(__i386__) || defined(__x86_64__)
// The x87 tag word: 0xFFFF when the register stack is empty.
std::uint16_t X87TagWord() {
    struct {
        std::uint16_t Control, Unused1, Status, Unused2, Tag, Unused3;
        std::uint32_t Rest[4];
    } env;
    asm volatile("fnstenv %0\n\tfldenv %0" : "+m"(env)); // fnstenv masks exceptions; put back
    return env.Tag;
}
#endif

// Entries that watch the library: the control word it runs under, the names it opens and
// whether it closes what it opened.
struct Watch {
    std::uint16_t ControlWord = 0;
    std::uint16_t Default = 0;
    std::vector<std::string> Names;
    int Open = 0;
    bool ThrowOnRead = false;
    bool LeaveX87Value = false; // as a library using extended precision carelessly might
};
Watch *watch = nullptr;

extern "C" TDecoderFile *WatchOpen(const char *name, const char *mode) {
    if (watch->Names.empty()) { // the library's first call
        watch->ControlWord = LiveFpuControl();
        watch->Default = DefaultFpuControl;
    }
    watch->Names.push_back(name);
    TDecoderFile *f = IoOpen(name, mode);
    watch->Open += f != nullptr;
    return f;
}
extern "C" std::int32_t WatchClose(TDecoderFile *f) {
    --watch->Open;
    const std::int32_t result = IoClose(f);
#if defined(__i386__) || defined(__x86_64__)
    if (watch->LeaveX87Value)
        asm volatile("fld1");
#endif
    return result;
}
extern "C" std::int32_t WatchRead(void *buffer, std::int32_t size, std::int32_t count,
                                  TDecoderFile *f) {
    if (watch->ThrowOnRead)
        throw EInOutError(30);
    return IoRead(buffer, size, count, f);
}

} // namespace

TEST_F(RawPreviewTest, WritesTheEmbeddedPreviewUnchangedWhenNotTurned) {
    const cr2::Bytes preview = cr2::EncodeJpeg(cr2::QuarterPicture(320, 240));
    const std::string raw = Cr2("IMG_0001.CR2", preview);
    ASSERT_TRUE(ExtractPreviewToTemp(raw, TempPreview::Scan));
    EXPECT_EQ(testutil::ReadFile(TempPreviewFile(TempPreview::Scan)), preview);
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(TempPreviewFile(TempPreview::Scan),
              FRuntime.path() + "/pixavant/tmp/thumb." + pid + ".0.tmp.jpg");

    ASSERT_TRUE(ExtractPreviewToTemp(raw, TempPreview::Viewer));
    EXPECT_EQ(testutil::ReadFile(FRuntime.path() + "/pixavant/thumb." + pid + ".0.tmp.jpg"),
              preview);
}

TEST_F(RawPreviewTest, TurnsThePreviewUprightForEveryOrientation) {
    // 64 x 32 has whole blocks only; 70 x 30 has partial ones, which no lossless turn can move.
    for (const auto &[w, h] : {std::pair{64, 32}, std::pair{70, 30}}) {
        const cr2::Bytes preview = cr2::EncodeJpeg(cr2::QuarterPicture(w, h), 95);
        for (const Upright &u : Orientations) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " orientation " << u.Orientation);
            const std::string raw = Cr2("turned.CR2", preview, u.Orientation);
            ASSERT_TRUE(ExtractPreviewToTemp(raw, TempPreview::Viewer));
            const cr2::Bytes file = testutil::ReadFile(TempPreviewFile(TempPreview::Viewer));
            const QImage out = DecodePreview(file.data(), file.size());
            EXPECT_EQ(out.width(), u.Turned ? h : w);
            EXPECT_EQ(out.height(), u.Turned ? w : h);
            const int x0 = out.width() / 4, x1 = out.width() * 3 / 4;
            const int y0 = out.height() / 4, y1 = out.height() * 3 / 4;
            EXPECT_EQ(ColourAt(out, x0, y0), u.TopLeft);
            EXPECT_EQ(ColourAt(out, x1, y0), u.TopRight);
            EXPECT_EQ(ColourAt(out, x0, y1), u.BottomLeft);
            EXPECT_EQ(ColourAt(out, x1, y1), u.BottomRight);
            // The camera's picture itself is never decoded and encoded again.
            EXPECT_NE(std::search(file.begin(), file.end(), preview.begin() + 2, preview.end()),
                      file.end());
        }
    }
}

TEST(PreviewTurnTest, OnlyOurOwnSegmentCarriesATurn) {
    // A 15-byte payload like ours under another marker, and another program's APP15.
    const struct {
        std::uint8_t Marker;
        std::string Id;
    } rows[] = {{0xE1, std::string("Pixavant turn", 14)}, {0xEF, "Other program!"}};
    const cr2::Bytes plain = cr2::EncodeJpeg(cr2::QuarterPicture(16, 16));
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.Marker));
        cr2::Bytes jpeg(plain.begin(), plain.begin() + 2);
        const std::string payload = row.Id + char(6);
        jpeg.insert(jpeg.end(), {0xFF, row.Marker, 0, std::uint8_t(payload.size() + 2)});
        jpeg.insert(jpeg.end(), payload.begin(), payload.end());
        jpeg.insert(jpeg.end(), plain.begin() + 2, plain.end());
        EXPECT_EQ(PreviewTurn(jpeg.data(), jpeg.size()), 0);
    }
}

TEST_F(RawPreviewTest, APreviewPathThatCannotBeClearedIsAnError) {
    // A folder where the preview file belongs: removing it fails for another reason than
    // its absence, and the folder is left as it was.
    const std::string preview = TempPreviewFile(TempPreview::Scan);
    ASSERT_EQ(::mkdir(preview.c_str(), 0700), 0);
    const std::string raw = Cr2("a.CR2", cr2::EncodeJpeg(cr2::QuarterPicture(32, 32)));
    try {
        ExtractPreviewToTemp(raw, TempPreview::Scan);
        ADD_FAILURE() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(),
                  "Cannot remove the old preview file \"" + preview + "\": Is a directory");
    }
    struct stat st {};
    ASSERT_EQ(::stat(preview.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ::rmdir(preview.c_str());
}

TEST_F(RawPreviewTest, AFailedExtractionLeavesNoPreviewBehind) {
    const std::string good = Cr2("good.CR2", cr2::EncodeJpeg(cr2::QuarterPicture(64, 64)));
    const std::string preview = TempPreviewFile(TempPreview::Scan);

    cr2::Bytes whole = cr2::BuildCr2({cr2::EncodeJpeg(cr2::QuarterPicture(400, 300))});
    cr2::Bytes cut(whole.begin(), whole.begin() + 2000); // the preview is cut off
    testutil::WriteFile(FFiles.file("cut.CR2"), cut);
    testutil::WriteFile(FFiles.file("text.CR2"), std::string("not a raw file at all\n"));
    testutil::WriteFile(FFiles.file("empty.CR2"), std::string());
    cr2::Cr2Options dummy;
    dummy.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(16, 16));
    cr2::Bytes fake = cr2::BuildCr2(dummy);
    const auto at =
        std::search(fake.begin(), fake.end(), dummy.PreviewJpeg.begin(), dummy.PreviewJpeg.end());
    std::fill(at + 2, at + long(dummy.PreviewJpeg.size()), 'x'); // no picture behind the marker
    testutil::WriteFile(FFiles.file("dummy.CR2"), fake);

    for (const std::string bad :
         {"cut.CR2", "text.CR2", "empty.CR2", "dummy.CR2", "missing.CR2", ""}) {
        SCOPED_TRACE(bad);
        ASSERT_TRUE(ExtractPreviewToTemp(good, TempPreview::Scan));
        ASSERT_TRUE(testutil::FileExists(preview));
        EXPECT_FALSE(ExtractPreviewToTemp(bad.empty() ? "" : FFiles.file(bad), TempPreview::Scan));
        EXPECT_FALSE(testutil::FileExists(preview));
    }
}

// A picture's size as its SOF marker states it, changed without touching the coded data.
cr2::Bytes ClaimSize(cr2::Bytes jpeg, int width, int height) {
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = std::uint8_t(height >> 8);
            jpeg[i + 6] = std::uint8_t(height);
            jpeg[i + 7] = std::uint8_t(width >> 8);
            jpeg[i + 8] = std::uint8_t(width);
            return jpeg;
        }
    }
    return jpeg;
}

TEST_F(RawPreviewTest, APreviewClaimingMoreThanAnyCameraWritesIsNoPreview) {
    const std::string preview = TempPreviewFile(TempPreview::Scan);
    const cr2::Bytes small = cr2::EncodeJpeg(cr2::QuarterPicture(64, 64));
    // Claims by the JPEG header: up to 100 megapixels is a preview; it is not decoded here, only
    // written as it is.
    struct Row {
        int Width, Height;
        bool Written;
    };
    for (const Row row : {Row{10000, 10000, true}, Row{9999, 10001, true}, Row{12000, 9000, false},
                          Row{10001, 10000, false}}) {
        SCOPED_TRACE(std::to_string(row.Width) + " x " + std::to_string(row.Height));
        const std::string raw = Cr2("claim.CR2", ClaimSize(small, row.Width, row.Height));
        EXPECT_EQ(ExtractPreviewToTemp(raw, TempPreview::Scan), row.Written);
        EXPECT_EQ(testutil::FileExists(preview), row.Written);
    }

    // A strip that claims 510 MB of a sparse file: refused before it is read, so nothing of
    // that size is held or written.
    cr2::Cr2Options o;
    o.PreviewJpeg = small;
    o.PreviewLengthClaim = 510u << 20;
    const std::string sparse = FFiles.file("sparse.CR2");
    cr2::WriteCr2(sparse, o);
    ASSERT_EQ(::truncate(sparse.c_str(), off_t(600) << 20), 0);
    EXPECT_FALSE(ExtractPreviewToTemp(sparse, TempPreview::Scan));
    EXPECT_FALSE(testutil::FileExists(preview));

    // The same file claiming a camera's size still gives its preview.
    o.PreviewLengthClaim = std::uint32_t(small.size()) + 1000;
    cr2::WriteCr2(sparse, o);
    ASSERT_EQ(::truncate(sparse.c_str(), off_t(1) << 20), 0);
    EXPECT_TRUE(ExtractPreviewToTemp(sparse, TempPreview::Scan));
}

// A CR3 whose Canon box holds a box with a 64-bit size of zero: LibRaw's box walk never
// advances past it. Built by hand from the ISO box layout: size, type, payload.
cr2::Bytes CR3WithABoxThatNeverEnds() {
    auto box = [](const char *type, const cr2::Bytes &payload) {
        const std::uint32_t size = std::uint32_t(8 + payload.size());
        cr2::Bytes out = {std::uint8_t(size >> 24), std::uint8_t(size >> 16),
                          std::uint8_t(size >> 8), std::uint8_t(size)};
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    };
    auto bytes = [](const std::string &text) { return cr2::Bytes(text.begin(), text.end()); };
    const cr2::Bytes canonUuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                  0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
    // Size 1 says a 64-bit size follows; that size is 0.
    const cr2::Bytes endless = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    cr2::Bytes inner = canonUuid;
    const cr2::Bytes version = box("CNCV", bytes("CanonCR3_001/00.09.00/00.00.00"));
    inner.insert(inner.end(), version.begin(), version.end());
    inner.insert(inner.end(), endless.begin(), endless.end());
    cr2::Bytes file = box("ftyp", bytes(std::string("crx \0\0\0\1crx isom", 16)));
    const cr2::Bytes moov = box("moov", box("uuid", inner));
    file.insert(file.end(), moov.begin(), moov.end());
    return file;
}

TEST_F(RawPreviewTest, AFileThatKeepsTheLibraryBusyForeverFailsCleanly) {
    // Without a bound this call never returns; ctest's time limit then fails the run.
    const std::string raw = FFiles.file("endless.CR3");
    testutil::WriteFile(raw, CR3WithABoxThatNeverEnds());
    EXPECT_FALSE(ExtractPreviewToTemp(raw, TempPreview::Scan));
    EXPECT_FALSE(testutil::FileExists(TempPreviewFile(TempPreview::Scan)));

    // The bound is per call: a good file right after it still gives its preview.
    const std::string good = Cr2("good.CR2", cr2::EncodeJpeg(cr2::QuarterPicture(64, 64)));
    EXPECT_TRUE(ExtractPreviewToTemp(good, TempPreview::Scan));
}

TEST_F(RawPreviewTest, AFullTemporaryFolderIsSaidToBeFull) {
    testutil::SmallFileSystem runtime(256 << 10);
    if (!runtime.Mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string preview = TempPreviewFile(TempPreview::Scan);
    // Room for no byte, and room for part of the preview only.
    const std::string raw =
        Cr2("big.CR2",
            cr2::ScaledJpeg(testutil::Sample("jpg/exiv2_exiv2-canon-eos-20d.jpg"), 800, 600));
    ASSERT_GT(testutil::ReadFile(raw).size(), std::size_t(32) << 10);
    for (const std::size_t left : {std::size_t(0), std::size_t(8) << 10}) {
        SCOPED_TRACE(left);
        runtime.Fill(left);
        try {
            ExtractPreviewToTemp(raw, TempPreview::Scan);
            ADD_FAILURE() << "nothing raised";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), "The temporary folder \"" + runtime.path() +
                                       "/pixavant/tmp\" is full; the preview picture could not "
                                       "be written there");
        }
        EXPECT_FALSE(testutil::FileExists(preview));
        ::unlink(runtime.file(".filler").c_str());
    }
    // With room again, the same file gives its preview.
    EXPECT_TRUE(ExtractPreviewToTemp(raw, TempPreview::Scan));
}

TEST_F(RawPreviewTest, SamplesOfRealCamerasGiveTheLargestPreviewTheyCarry) {
    PIXAVANT_REQUIRE_SAMPLES();
    // The largest preview `exiv2 -pp` lists whose bytes lie whole in the file, as stored
    // (before any turn); 0 x 0 where there is none, and the extraction must fail by name. Most
    // files are cut short on purpose: the notes say what exiv2 lists beyond their end.
    struct Sample {
        const char *Name;
        int Width, Height;
    };
    const Sample samples[] = {
        {"bep_jolstravatnet.pef", 720, 480}, // and the 160 x 120 thumbnail
        {"bep_sample_NikonD1_trunc.nef", 160, 120},
        {"bep_sample_PowerShotS90_trunc.cr2", 160, 120}, // 456 x 342 TIFF: 140 bytes left
        {"bep_sample_SD450_trunc.dng", 128, 96},
        {"bep_sample_SonyA330_trunc.arw", 160, 120},
        {"exiftool_CanonRaw.cr2", 0, 0}, // 384 x 256 TIFF: 156 bytes left
        {"exiftool_CanonRaw.cr3", 0, 0},
        {"exiftool_CanonRaw.crw", 0, 0},
        {"exiftool_DNG.dng", 0, 0}, // three TIFF previews up to 3456 x 2304, each cut off
        {"exiftool_FujiFilm.raf", 160, 120},
        {"exiftool_Nikon.nef", 0, 0}, // 160 x 106 TIFF: 210 bytes left
        {"exiftool_Panasonic.rw2", 8, 8},
        {"exiv2_Canon-R6-pruned.CR3", 1620, 1080},       // and the 160 x 120 thumbnail
        {"exiv2_IMG_1361_iPhone12Pro_pruned.dng", 0, 0}, // 4032 x 3024 TIFF: 128 bytes left
        {"exiv2_canon-powershot-s40.crw", 160, 120},
        {"hachoir_canon.raw.cr2", 160, 120}, // 660 x 441 TIFF: 140 bytes left
    };
    // Every file of the folder has its row, so a new sample cannot go untested.
    const QStringList names =
        QDir(QString::fromStdString(testutil::Sample("raw"))).entryList(QDir::Files);
    for (const QString &name : names)
        EXPECT_TRUE(std::any_of(std::begin(samples), std::end(samples), [&](const Sample &s) {
            return name == s.Name;
        })) << name.toStdString();
    const std::string preview = TempPreviewFile(TempPreview::Viewer);
    for (const Sample &s : samples) {
        SCOPED_TRACE(s.Name);
        const int result =
            ExtractPreviewToFile(testutil::Sample(std::string("raw/") + s.Name), preview);
        int w = 0, h = 0;
        if (result == 0)
            cr2::JpegSize(testutil::ReadFile(preview), w, h);
        else // a failure the user can be told about by name
            EXPECT_TRUE(result == MervanteNoPreview || result == MervanteDamagedPreview) << result;
        EXPECT_EQ(result == 0, testutil::FileExists(preview));
        EXPECT_EQ(std::pair(w, h), std::pair(s.Width, s.Height));
    }
}

#if defined(__i386__) || defined(__x86_64__)
TEST_F(RawPreviewTest, TheLibraryRunsMaskedAndTheControlWordComesBack) {
    Watch w;
    watch = &w;
    TDecoderIoTable table;
    BuildDecoderIoTable(table);
    table.Open = WatchOpen;
    table.Close = WatchClose;
    table.Read = WatchRead;
    const std::string raw = Cr2("a.CR2", cr2::EncodeJpeg(cr2::QuarterPicture(32, 32)));
    char output[RawPreviewPathBufferSize] = {};
    std::strcpy(output, FFiles.file("out.jpg").c_str());
    std::int32_t quality = 100;

    // A normal word of our own (rounding toward zero, no exception unmasked), so a word the
    // library ran under cannot pass for it afterwards.
    const std::uint16_t original = DefaultFpuControl;
    const std::uint16_t before = 0x0C7F;
    SetFpuControl(before);
    EXPECT_EQ(ExtractRawPreview(&table, raw.c_str(), output, &quality), 0);
    EXPECT_EQ(w.Default, before | 0x10BF);
    // Bit 7 of the x87 control word is reserved and always reads as zero.
    EXPECT_EQ(w.ControlWord, (before | 0x10BF) & ~0x80);
    EXPECT_EQ(DefaultFpuControl, before);
    EXPECT_EQ(LiveFpuControl(), before);
    EXPECT_EQ(w.Open, 0);
    ASSERT_EQ(w.Names.size(), 2u);
    EXPECT_EQ(w.Names[1], FFiles.file("out.jpg"));

    // An empty input path names no file; the library fails to open it.
    w.Names.clear();
    EXPECT_NE(ExtractRawPreview(&table, "", output, &quality), 0);
    ASSERT_EQ(w.Names.size(), 1u);
    EXPECT_EQ(w.Names[0], "*:\\***.***");

    // An exception raised by an entry leaves through the library, which closes its streams;
    // the control word is restored on that way out too.
    w.ThrowOnRead = true;
    EXPECT_THROW(ExtractRawPreview(&table, raw.c_str(), output, &quality), EInOutError);
    EXPECT_EQ(w.Open, 0);
    EXPECT_EQ(DefaultFpuControl, before);
    EXPECT_EQ(LiveFpuControl(), before);

    // The unit is reinitialised after the call: nothing the library left on the register
    // stack survives it.
    w.ThrowOnRead = false;
    w.LeaveX87Value = true;
    EXPECT_EQ(ExtractRawPreview(&table, raw.c_str(), output, &quality), 0);
    EXPECT_EQ(X87TagWord(), 0xFFFF);
    watch = nullptr;
    SetFpuControl(original);
}

TEST_F(RawPreviewTest, EachThreadHasItsOwnNormalControlWord) {
    // Workers extract side by side; one's masked word during its call must never become
    // another's (or the GUI thread's) normal word.
    const std::uint16_t before = DefaultFpuControl;
    std::uint16_t workerStart = 0, workerInside = 0, mainMeanwhile = 0;
    std::atomic<int> step{0};
    std::thread worker([&] {
        workerStart = DefaultFpuControl;
        SetFpuControl(0x13BF);
        workerInside = DefaultFpuControl;
        step = 1;
        while (step != 2)
            std::this_thread::yield();
        ResetFpu();
        SetFpuControl(workerStart);
    });
    while (step != 1)
        std::this_thread::yield();
    mainMeanwhile = DefaultFpuControl;
    step = 2;
    worker.join();
    EXPECT_EQ(workerStart, 0x037F); // the platform's own default, whatever the main thread has
    EXPECT_EQ(workerInside, 0x13BF);
    EXPECT_EQ(mainMeanwhile, before);
    EXPECT_EQ(LiveFpuControl(), before);
}
#endif
