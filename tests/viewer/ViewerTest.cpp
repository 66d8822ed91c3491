// The viewer and the full-screen window driven through the main window's list, headless: the
// RAW road with generated CR2 files, the shell road with a recording extractor, stepping with
// wrap-around, turns and the slideshow.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QWheelEvent>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Cr2Writer.h"
#include "DecodeSandbox.h"
#include "DecodeWire.h"
#include "Dialogs.h"
#include "Forms.h"
#include "ReadAhead.h"
#include "ShellExtract.h"
#include "TempFolder.h"
#include "TestUtil.h"
#include "Thread.h"
#include "ViewZoom.h"
#include "fullscreen.h"
#include "main.h"
#include "view.h"

namespace {

// What the shell is asked for, and how the recording extractor answers.
struct TShellScript {
    bool HasExtractor = true;
    HRESULT LocationResult = E_PENDING;
    DWORD ReturnedFlags = 0; // added to the flags GetLocation hands back
    bool ExtractFails = false;
    QColor Fill = Qt::darkGreen;
    bool Stripes = false; // one-pixel columns of Fill and blue instead of a plain fill
    // While set, Extract waits (at most ten seconds) for it to clear: a slow picture.
    std::atomic<bool> Hold{false};
    std::atomic<int> Kills{0}; // extractions stopped through their task

    struct TRequest {
        std::string Path;
        int Width, Height;
        DWORD Depth, Flags;
    };
    // What was asked so far: the read-ahead's thread adds to it while the test looks.
    std::vector<TRequest> Asked() {
        std::lock_guard lock(Lock);
        return Requests;
    }
    std::vector<TRequest> Requests;
    std::mutex Lock;
};

TShellScript *Script = nullptr;

class TRecordingExtractor : public TComObject<IExtractImage, IRunnableTask> {
public:
    explicit TRecordingExtractor(std::string path) : FPath(std::move(path)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (iid == IID_IUnknown || iid == IID_IExtractImage) {
            AddRef();
            *out = static_cast<IExtractImage *>(this);
            return S_OK;
        }
        if (iid == IID_IRunnableTask) {
            AddRef();
            *out = static_cast<IRunnableTask *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetLocation(char16_t *, DWORD, DWORD *, const SIZE *size, DWORD depth,
                        DWORD *flags) override {
        {
            // The read-ahead's thread asks too.
            std::lock_guard lock(Script->Lock);
            Script->Requests.push_back({FPath, int(size->cx), int(size->cy), depth, *flags});
        }
        FSize = QSize(size->cx, size->cy);
        *flags |= Script->ReturnedFlags;
        return Script->LocationResult;
    }
    HRESULT Extract(HBITMAP *bitmap) override {
        for (int i = 0; i < 1000 && Script->Hold && !FKilled; ++i)
            QThread::msleep(10);
        if (Script->ExtractFails)
            return E_FAIL;
        *bitmap = new QImage(FSize, QImage::Format_RGB32);
        // Each file its own colour, so a late picture of another file shows.
        (*bitmap)->fill(FPath.size() > 5 && FPath.substr(FPath.size() - 5) == "b.png"
                            ? Qt::darkRed
                            : Script->Fill);
        if (Script->Stripes)
            for (int y = 0; y < FSize.height(); ++y)
                for (int x = 1; x < FSize.width(); x += 2)
                    (*bitmap)->setPixelColor(x, y, Qt::blue);
        return S_OK;
    }

    // As the shell's extractors do: Kill lets a held Extract go at once.
    HRESULT Kill(BOOL) override {
        FKilled = true;
        ++Script->Kills;
        return S_OK;
    }
    HRESULT Run() override { return E_NOTIMPL; }
    HRESULT Suspend() override { return E_NOTIMPL; }
    HRESULT Resume() override { return E_NOTIMPL; }
    ULONG IsRunning() override { return IRTIR_TASK_RUNNING; }

private:
    std::string FPath;
    QSize FSize;
    std::atomic<bool> FKilled{false};
};

class ViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Preview files and thumbnail caches of the run stay in its own folders.
        Runtime = new testutil::TempDir;
        setenv("XDG_RUNTIME_DIR", Runtime->path().c_str(), 1);
        setenv("XDG_CACHE_HOME", Runtime->file("cache").c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Runtime;
        Runtime = nullptr;
    }

    void SetUp() override {
        Script = &FScript;
        Services = testutil::ChangeServices([this](TPlatformServices &s) {
            s.CreateExtractImage = [](const std::string &path, void **out) -> HRESULT {
                *out = nullptr;
                if (!Script->HasExtractor)
                    return E_NOINTERFACE;
                *out = static_cast<IExtractImage *>(new TRecordingExtractor(path));
                return S_OK;
            };
            s.MessageBox = [this](HWND, const std::string &text, const std::string &, UINT) {
                Boxes.push_back(text);
                return IDOK;
            };
            s.DebugOutput = [](const std::string &) {};
        });
        Main = std::make_unique<TMainForm>();
        View = std::make_unique<TviewForm>();
        Full = std::make_unique<Tfullform>();
        View->SetBrowser(Main.get());
        // Reading ahead has tests of its own; here every open decodes what it shows.
        View->SetReadAhead(false);
        ASSERT_EQ(viewForm, View.get());
        ASSERT_EQ(fullform, Full.get());
    }

    void TearDown() override {
        FScript.Hold = false;
        Full.reset();
        View.reset();
        Main.reset();
        TThread::WaitForAll(); // shell requests that were dropped still run to their end
        Services.reset();
        Script = nullptr;
    }

    // Fills the main window's list as a scan of Folder would, each entry an existing file.
    void List(const std::vector<std::string> &names) {
        Main->SetSelFolder(Folder.path());
        Main->List()->Clear();
        for (const std::string &name : names) {
            if (!testutil::FileExists(Folder.file(name)))
                testutil::WriteFile(Folder.file(name), std::string("x"));
            Main->List()->AddItem(name);
        }
    }

    // Selects an entry and double-clicks it, then lets the posted request run.
    void Open(int index) {
        Main->List()->SetItemIndex(index);
        Main->ListViewDblClick();
        Settle();
    }

    // Lets the posted request run, and the shell's picture or the RAW preview arrive.
    void Settle() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        ASSERT_TRUE(testutil::WaitFor(
            [this] { return !View->ShellRequestRunning() && !View->RawRequestRunning(); }));
        QCoreApplication::processEvents();
    }

    std::string Label1() const { return Main->SelectedText().toStdString(); }
    QStringList MemoLines() const {
        const QString text = View->Memo1->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    void WriteRaw(const std::string &name, int width, int height) {
        cr2::Cr2Options options;
        options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(width, height));
        cr2::WriteCr2(Folder.file(name), options);
    }

    static testutil::TempDir *Runtime;
    TShellScript FScript;
    testutil::TempDir Folder;
    std::vector<std::string> Boxes;
    std::unique_ptr<TMainForm> Main;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;
    std::unique_ptr<TServicesScope> Services;
};

testutil::TempDir *ViewerTest::Runtime = nullptr;

const char *const NoThumbnail = "Thumbnail is not available. Default icon displayed.";

TEST_F(ViewerTest, RawThumbnailEntryOpensThePreviewOfItsRawFileInBothControls) {
    WriteRaw("IMG_0001.CR2", 64, 48);
    WriteRaw("IMG_0002.CR2", 32, 24);
    List({"IMG_0001.CR2.JPG", "IMG_0002.CR2.JPG"});
    Open(1);
    Open(0);

    EXPECT_TRUE(View->isVisible());
    EXPECT_EQ(View->Caption(), "Pixavant - IMG_0001.CR2.JPG");
    EXPECT_EQ(MemoLines(), QStringList{"Ready"});
    // Once shown, the preview file is of no more use in a folder that may live in memory.
    EXPECT_FALSE(testutil::FileExists(TempPreviewPath(TempPreview::Viewer)));
    Full->ShowFullScreen();
    for (TRotateImage *image : {View->RImage1, Full->RImage2}) {
        ASSERT_NE(image->Picture().Graphic(), nullptr);
        EXPECT_STREQ(image->Picture().Graphic()->ClassName(), "TJPEGImage");
        EXPECT_EQ(image->Picture().Width(), 64);
        EXPECT_EQ(image->Picture().Height(), 48);
        // The preview itself, ready to paint: its top-left quarter is red.
        ASSERT_EQ(image->Rotated().Width(), 64);
        const QColor c = image->Rotated().Image().pixelColor(4, 4);
        EXPECT_GT(c.red(), 200);
        EXPECT_LT(c.green(), 60);
    }
    // Pictures given to the hidden full-screen window are the ones it shows.
    Full->Close();
    View->Button2Click();
    Settle();
    Full->ShowFullScreen();
    EXPECT_EQ(Full->RImage2->Rotated().Width(), 32);

    // The RAW road never asks the shell.
    EXPECT_TRUE(FScript.Asked().empty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, AStalledRawDecodeLeavesTheWindowsAnsweringAndTheNextStepSupersedesIt) {
    // A stand-in for a crafted CR3 that holds the RAW library until its budget runs out.
    AllowDecodeTestJobs(true);
    struct TReset {
        ~TReset() { AllowDecodeTestJobs(false); }
    } reset;
    testutil::WriteFile(Folder.file("LOOP.CR3"),
                        std::string(DecodeTestSpinMarker) + std::string(52 << 10, '\0'));
    WriteRaw("IMG_0002.CR2", 64, 48);
    List({"LOOP.CR3.JPG", "IMG_0002.CR2.JPG"});
    // The longest the event loop goes without running, from the open through half a second
    // of the stall.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, gap = 0;
    QTimer tick;
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        gap = std::max(gap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start();
    const std::uint64_t before = DecodesRun();
    Main->List()->SetItemIndex(0);
    Main->ListViewDblClick();
    ASSERT_TRUE(testutil::WaitFor([&] { return DecodesRun() > before; })); // the helper has it
    const qint64 sent = clock.elapsed();
    while (clock.elapsed() < sent + 500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    EXPECT_LT(gap, 50);
    EXPECT_TRUE(View->RawRequestRunning());
    EXPECT_EQ(MemoLines(), QStringList{"Extracting..."});

    // Next, pressed meanwhile, shows its picture and stops the stalled helper.
    QCoreApplication::postEvent(View.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, {}));
    Settle();
    EXPECT_EQ(View->RImage1->Picture().Width(), 64);
    EXPECT_EQ(MemoLines(), QStringList{"Ready"});
    QElapsedTimer stopping;
    stopping.start();
    TThread::WaitForAll();
    EXPECT_LT(stopping.elapsed(), 3000); // left alone it would run its 5 s budget
}

TEST_F(ViewerTest, AStepToAPictureChangedSinceItWasReadAheadDecodesItAgain) {
    WriteRaw("A.CR2", 40, 30);
    WriteRaw("B.CR2", 48, 30);
    List({"A.CR2.JPG", "B.CR2.JPG"});
    View->SetReadAhead(true);
    Open(0);
    ASSERT_TRUE(testutil::WaitFor([&] { return View->ReadAhead()->Held() >= 1; }));
    View->Button2Click();
    ASSERT_TRUE(testutil::WaitFor([&] { return View->ReadAhead()->Held() >= 2; }));
    // Both are held, so nothing is being read ahead when A, rewritten, is shown again.
    WriteRaw("A.CR2", 56, 30);
    View->Button2Click();
    EXPECT_TRUE(testutil::WaitFor([&] { return View->RImage1->Picture().Width() == 56; }));
}

TEST_F(ViewerTest, ARawFileThatCrashesItsDecoderShowsTheDefaultIconAndTheNextOneItsPreview) {
    PIXAVANT_REQUIRE_SAMPLES();
    // Byte 65 gives the DNG's IFD0 Compression tag a count of 0x80000001, on which the RAW
    // library writes past its buffer.
    auto bytes = testutil::ReadFile(testutil::Sample("raw/bep_sample_SD450_trunc.dng"));
    bytes[65] = 0x80;
    testutil::WriteFile(Folder.file("flipped.dng"), bytes);
    WriteRaw("IMG_0002.CR2", 64, 48);
    List({"flipped.dng.JPG", "IMG_0002.CR2.JPG"});
    Open(0);
    EXPECT_EQ(MemoLines(), QStringList{NoThumbnail});
    View->Button2Click();
    Settle();
    EXPECT_EQ(View->RImage1->Picture().Width(), 64);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, RawFilesOfOtherCamerasOpenThroughTheRawRoad) {
    WriteRaw("DSC_0001.NEF", 40, 30);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testutil::Sample("raw/exiftool_FujiFilm.raf")),
                            QString::fromStdString(Folder.file("DSCF0001.raf"))));
    List({"DSC_0001.NEF.JPG", "DSCF0001.raf.JPG"});
    const struct {
        int Index;
        const char *Raw;
        int Width, Height; // the RAW file's preview (raw-identify's "Thumb size" for the RAF)
    } rows[] = {{0, "DSC_0001.NEF", 40, 30}, {1, "DSCF0001.raf", 160, 120}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Raw);
        Open(row.Index);
        EXPECT_EQ(Label1(), Folder.file(row.Raw));
        ASSERT_NE(View->RImage1->Picture().Graphic(), nullptr);
        EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TJPEGImage");
        EXPECT_EQ(View->RImage1->Picture().Width(), row.Width);
        EXPECT_EQ(View->RImage1->Picture().Height(), row.Height);
    }
    EXPECT_TRUE(FScript.Asked().empty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, ReadAheadStepsShowPrefetchedPicturesAndNeverAnotherFilesPicture) {
    // Each file its own preview width, so the picture shown names the file it came from.
    const std::vector<std::string> names = {"A.CR2", "B.CR2", "C.CR2", "D.CR2", "E.CR2"};
    std::map<std::string, int> width;
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < names.size(); ++i) {
        width[names[i]] = 40 + 8 * int(i);
        WriteRaw(names[i], width[names[i]], 30);
        entries.push_back(names[i] + ".JPG");
    }
    List(entries);
    View->SetReadAhead(true);
    Open(0);
    // Two ahead (B, C) and one behind (E, wrapping round).
    ASSERT_TRUE(testutil::WaitFor([&] { return View->ReadAhead()->Held() >= 3; }));

    // B's bytes spoilt behind the read-ahead's back, its identity kept: only a picture
    // decoded before can still show.
    const std::string b = Folder.file("B.CR2");
    const cr2::Bytes good = testutil::ReadFile(b);
    struct stat st {};
    ASSERT_EQ(::stat(b.c_str(), &st), 0);
    testutil::WriteFile(b, std::string(good.size(), 'x'));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, b.c_str(), times, 0), 0);
    View->Button2Click();
    EXPECT_EQ(View->RImage1->Picture().Width(), width["B.CR2"]);
    EXPECT_EQ(Full->RImage2->Picture().Width(), width["B.CR2"]);
    EXPECT_EQ(MemoLines(), QStringList{"Ready"});
    testutil::WriteFile(b, good);

    // D, prefetched two ahead, is replaced by A's file: the entry shows what its file is now.
    ASSERT_TRUE(testutil::WaitFor([&] { return View->ReadAhead()->Held() >= 3; }));
    std::filesystem::copy_file(Folder.file("A.CR2"), Folder.file("new"));
    std::filesystem::rename(Folder.file("new"), Folder.file("D.CR2"));
    width["D.CR2"] = width["A.CR2"];

    // Fast steps, turning back and forth, some before anything could be read ahead.
    int index = 1;
    for (const int delta : {+1, +1, -1, -1, -1, +1, +1, +1, +1, -1, +1}) {
        (delta > 0 ? View->Button2Click() : View->Button3Click());
        Settle();
        index = (index + delta + 5) % 5;
        EXPECT_EQ(View->RImage1->Picture().Width(), width[names[std::size_t(index)]])
            << names[std::size_t(index)];
    }
    EXPECT_LE(View->ReadAhead()->Held(), TReadAhead::MaxHeld);
    EXPECT_TRUE(Boxes.empty());

    // A closed viewer reads nothing ahead.
    View->Close();
    EXPECT_EQ(View->ReadAhead()->Held(), 0);
}

TEST_F(ViewerTest, ReadAheadStepToAPrefetchedShellPictureShowsItAtOnce) {
    List({"a.png", "b.png", "c.png"});
    View->SetReadAhead(true);
    Open(0);
    ASSERT_TRUE(testutil::WaitFor([&] {
        return View->ReadAhead()->Ready(View->ScreenRequest(Folder.file("b.png"))).has_value();
    }));
    // From here a picture asked of the shell would take ten seconds.
    FScript.Hold = true;
    View->Button2Click();
    ASSERT_NE(View->RImage1->Picture().Graphic(), nullptr);
    EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TBitmap");
    const TBitmap *shown = static_cast<const TBitmap *>(View->RImage1->Picture().Graphic());
    EXPECT_EQ(shown->Image().pixel(2, 2), QColor(Qt::darkRed).rgb()); // b.png's colour
    EXPECT_EQ(shown->Image().size(), View->ShellRequestSize());
    EXPECT_FALSE(View->ShellRequestRunning());
    QCoreApplication::processEvents();
    EXPECT_FALSE(View->ShellRequestRunning()); // and the posted request asks nothing more
    FScript.Hold = false;
}

TEST(PreviewScale, DecodesNoSmallerThanAScreenShowsEitherWayRound) {
    // Hand-computed: the needed share is the larger of the upright and the turned fit.
    EXPECT_EQ(PreviewScaleDenom(5184, 3456, QSize(1920, 1080)), 2);  // needs 0.3125
    EXPECT_EQ(PreviewScaleDenom(3456, 5184, QSize(1920, 1080)), 2);  // portrait, same
    EXPECT_EQ(PreviewScaleDenom(5184, 3456, QSize(3840, 2160)), 1);  // needs 0.625
    EXPECT_EQ(PreviewScaleDenom(5184, 3456, QSize(800, 600)), 4);    // needs 0.154
    EXPECT_EQ(PreviewScaleDenom(16000, 1000, QSize(1920, 1080)), 8); // needs 0.12
    EXPECT_EQ(PreviewScaleDenom(15000, 1000, QSize(1920, 1080)), 4); // needs 0.128
    EXPECT_EQ(PreviewScaleDenom(640, 480, QSize(1920, 1080)), 1);
    EXPECT_EQ(PreviewScaleDenom(5184, 0, QSize(1920, 1080)), 1); // no size known: whole
    EXPECT_EQ(PreviewScaleDenom(0, 3456, QSize(1920, 1080)), 1);
    EXPECT_EQ(PreviewScaleDenom(5184, 3456, QSize()), 1);
}

TEST_F(ViewerTest, PreviewLargerThanTheScreenIsHeldAtTheSizeTheScreenShowsOfIt) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    // Three screens wide and two high: the upright fit shows a third of it.
    const int w = screen.width() * 3, h = screen.height() * 2;
    WriteRaw("big.CR2", w, h);
    List({"big.CR2.JPG"});
    Open(0);
    EXPECT_EQ(View->RImage1->Picture().Width(), screen.width());
    EXPECT_EQ(View->RImage1->Picture().Height(), (screen.height() * 2 + 1) / 3);
    EXPECT_EQ(Full->RImage2->Picture().Width(), View->RImage1->Picture().Width());
}

TEST_F(ViewerTest, RawFileWithoutPreviewShowsItsIconAndFullScreenKeepsThePreviousPicture) {
    WriteRaw("good.CR2", 40, 30);
    testutil::WriteFile(Folder.file("bad.CR2"), std::string("not a raw file at all"));
    List({"good.CR2.JPG", "bad.CR2.JPG"});
    Open(0);
    ASSERT_EQ(Full->RImage2->Picture().Width(), 40);

    View->Button2Click();
    Settle();
    EXPECT_EQ(Label1(), Folder.file("bad.CR2"));
    EXPECT_EQ(MemoLines(), QStringList{NoThumbnail});
    ASSERT_NE(View->RImage1->Picture().Graphic(), nullptr);
    EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TIcon");
    EXPECT_STREQ(Full->RImage2->Picture().Graphic()->ClassName(), "TJPEGImage");
    EXPECT_EQ(Full->RImage2->Picture().Width(), 40);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, ShellRoadAsksOnceShownForAPictureOfTheControlsSize) {
    List({"photo.jpg"});
    Main->List()->SetItemIndex(0);
    View->BtnBrowseClick();
    // The request waits for the window to be shown.
    EXPECT_TRUE(FScript.Asked().empty());
    EXPECT_EQ(MemoLines(), QStringList{"Extracting..."});
    View->Show();
    // The window may reach its maximised size only after the first request: the picture is
    // asked for again at the size the control ends up with.
    ASSERT_TRUE(testutil::WaitFor([&] {
        return !FScript.Asked().empty() &&
               QSize(FScript.Asked().back().Width, FScript.Asked().back().Height) ==
                   View->RImage1->size();
    }));
    Settle();
    const auto request = FScript.Asked().back();
    EXPECT_LE(FScript.Asked().size(), 2u);
    EXPECT_EQ(request.Path, Folder.file("photo.jpg"));
    EXPECT_GT(request.Width, 100);
    EXPECT_EQ(request.Flags, 0x0021u);
    EXPECT_EQ(request.Depth, 32u);
    for (TRotateImage *image : {View->RImage1, Full->RImage2}) {
        ASSERT_NE(image->Picture().Graphic(), nullptr);
        EXPECT_STREQ(image->Picture().Graphic()->ClassName(), "TBitmap");
        EXPECT_EQ(image->Picture().Width(), request.Width);
    }
    EXPECT_TRUE(MemoLines().isEmpty());

    // One memo line per returned flag, in a fixed order.
    FScript.ReturnedFlags =
        IEIFLAG_NOBORDER | IEIFLAG_GLEAM | IEIFLAG_ORIGSIZE | IEIFLAG_CACHE | IEIFLAG_NOSTAMP;
    Open(0);
    EXPECT_EQ(MemoLines(),
              (QStringList{"Extractor does not cache the thumbnail.", "The image has a gleam.",
                           "Extractor does not want an icon stamp on the thumbnail.",
                           "Extractor does not want an a border around the "
                           "thumbnail."}));

    // The options and colour depth of the hidden boxes reach the request; aspect and screen
    // rendering exclude each other.
    View->CheckBox1->click();
    EXPECT_FALSE(View->CheckBox3->isChecked());
    View->CheckBox4->setChecked(true);
    View->ComboBox1->setCurrentIndex(3);
    Open(0);
    EXPECT_EQ(FScript.Asked().back().Flags, 0x0205u);
    EXPECT_EQ(FScript.Asked().back().Depth, 24u);

    // A picture from the shell is asked for again when the picture area changes size; one
    // from a RAW file is not.
    const std::size_t asked = FScript.Asked().size();
    View->resize(View->width() - 100, View->height() - 50);
    ASSERT_TRUE(testutil::WaitFor([&] { return FScript.Asked().size() == asked + 1; }));
    EXPECT_EQ(FScript.Asked().back().Width, View->RImage1->width());
    View->CheckBox3->click();
    EXPECT_FALSE(View->CheckBox1->isChecked());
}

// Also run with QT_SCALE_FACTOR=2 (its own ctest entry): there the picture must be rendered
// and drawn at twice the control's logical size.
TEST_F(ViewerTest, ShellPictureIsRenderedAndDrawnAtTheScreensDevicePixels) {
    FScript.Stripes = true;
    List({"stripes.png"});
    Main->List()->SetItemIndex(0);
    View->BtnBrowseClick();
    View->Show();
    const qreal ratio = View->devicePixelRatioF();
    if (qgetenv("QT_SCALE_FACTOR") == "2") {
        ASSERT_EQ(ratio, 2.0);
    }
    ASSERT_TRUE(testutil::WaitFor([&] {
        return !FScript.Asked().empty() &&
               QSize(FScript.Asked().back().Width, FScript.Asked().back().Height) ==
                   (QSizeF(View->RImage1->size()) * ratio).toSize();
    }));
    Settle();
    EXPECT_EQ(View->RImage1->Picture().Width(), FScript.Asked().back().Width);

    // What is drawn keeps every one-pixel column: drawn at half resolution and blown up,
    // neighbouring device pixels would pair up.
    const QImage shot = View->RImage1->grab().toImage();
    ASSERT_EQ(shot.size(), (QSizeF(View->RImage1->size()) * ratio).toSize());
    const int y = shot.height() / 2;
    int changes = 0, pairs = 0;
    for (int x = shot.width() / 4; x < shot.width() * 3 / 4; ++x, ++pairs)
        changes += (shot.pixelColor(x, y) == Qt::blue) != (shot.pixelColor(x + 1, y) == Qt::blue);
    EXPECT_EQ(changes, pairs);
}

TEST_F(ViewerTest, TheWindowNeverWaitsForTheShellAndShowsTheLastPictureAskedFor) {
    List({"a.png", "b.png"});
    FScript.Hold = true;
    Main->List()->SetItemIndex(0);
    Main->ListViewDblClick();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    // The picture is still being made, and the window goes on.
    EXPECT_TRUE(View->ShellRequestRunning());
    EXPECT_EQ(MemoLines(), QStringList{"Extracting..."});
    View->SpeedButton5Click();
    EXPECT_EQ(View->RImage1->Angle(), 90);

    // Another picture asked for meanwhile: the first one's extraction is stopped and its
    // picture, should it come, dropped.
    ASSERT_TRUE(testutil::WaitFor([&] { return !FScript.Asked().empty(); })); // under way
    Main->List()->SetItemIndex(1);
    Main->ListViewDblClick();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(testutil::WaitFor([&] { return FScript.Kills == 1; }));
    EXPECT_EQ(MemoLines(), QStringList{"Extracting..."});
    FScript.Hold = false;
    Settle();
    EXPECT_TRUE(MemoLines().isEmpty());
    for (TRotateImage *image : {View->RImage1, Full->RImage2}) {
        ASSERT_NE(image->Picture().Graphic(), nullptr);
        const auto *bitmap = dynamic_cast<const TBitmap *>(image->Picture().Graphic());
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->Image().pixelColor(5, 5), QColor(Qt::darkRed));
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, ShellFailuresShowTheIconAndFullScreenKeepsThePreviousPicture) {
    List({"a.jpg", "b.gif"});
    Open(0);
    ASSERT_STREQ(Full->RImage2->Picture().Graphic()->ClassName(), "TBitmap");
    const int shown = Full->RImage2->Picture().Width();

    // No extractor for the file, then an extraction that fails.
    for (bool noExtractor : {true, false}) {
        FScript.HasExtractor = !noExtractor;
        FScript.ExtractFails = !noExtractor;
        Open(noExtractor ? 1 : 0);
        EXPECT_EQ(MemoLines(), QStringList{NoThumbnail});
        EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TIcon");
        EXPECT_STREQ(Full->RImage2->Picture().Graphic()->ClassName(), "TBitmap");
        EXPECT_EQ(Full->RImage2->Picture().Width(), shown);
    }

    // A file that vanished is reported once and both pictures stay.
    std::remove(Folder.file("a.jpg").c_str());
    FScript.HasExtractor = true;
    Open(0);
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TIcon");
}

TEST_F(ViewerTest, NextAndPreviousWrapAroundAndMapThumbnailEntries) {
    List({"IMG_0001.CR2.JPG", "img_0002.cr2.jpg", "a.JPG.JPG", "z.tif"});
    WriteRaw("IMG_0001.CR2", 16, 16);
    Open(3);

    View->Button2Click();
    EXPECT_EQ(Main->List()->ItemIndex(), 0);
    EXPECT_EQ(Label1(), Folder.file("IMG_0001.CR2"));
    EXPECT_EQ(View->Caption(), "Pixavant - IMG_0001.CR2.JPG");

    View->Button3Click();
    EXPECT_EQ(Main->List()->ItemIndex(), 3);
    EXPECT_EQ(Label1(), Folder.file("z.tif"));

    // The suffix test is case-sensitive, and only a final ".JPG" leads to a RAW file.
    View->SpeedButton2Click();
    EXPECT_EQ(Label1(), Folder.file("a.JPG.JPG"));
    View->SpeedButton2Click();
    EXPECT_EQ(Label1(), Folder.file("img_0002.cr2.jpg"));
    Settle();
    EXPECT_EQ(FScript.Asked().back().Path, Folder.file("img_0002.cr2.jpg"));

    // The arrow keys step too.
    QTest::keyClick(View.get(), Qt::Key_Right);
    EXPECT_EQ(Main->List()->ItemIndex(), 2);
    QTest::keyClick(View.get(), Qt::Key_Left);
    EXPECT_EQ(Main->List()->ItemIndex(), 1);
}

TEST_F(ViewerTest, StepsWithOneEntryNoSelectionOrAnEmptyList) {
    List({"only.png"});
    Open(0);
    const std::size_t asked = FScript.Asked().size();
    View->Button2Click();
    Settle();
    View->Button3Click();
    Settle();
    EXPECT_EQ(Main->List()->ItemIndex(), 0);
    EXPECT_EQ(Label1(), Folder.file("only.png"));
    EXPECT_EQ(FScript.Asked().size(), asked + 2);

    // Without a selection Next opens the first entry and Previous the last.
    List({"a.png", "b.png", "c.png"});
    Main->List()->SetItemIndex(-1);
    View->Button2Click();
    Settle();
    EXPECT_EQ(Main->List()->ItemIndex(), 0);
    EXPECT_EQ(FScript.Asked().back().Path, Folder.file("a.png"));
    Main->List()->SetItemIndex(-1);
    View->Button3Click();
    Settle();
    EXPECT_EQ(Main->List()->ItemIndex(), 2);
    EXPECT_EQ(FScript.Asked().back().Path, Folder.file("c.png"));

    // Opening without a selection opens nothing.
    const std::size_t steps = FScript.Asked().size();
    Main->List()->SetItemIndex(-1);
    View->BtnBrowseClick();
    Settle();
    EXPECT_EQ(FScript.Asked().size(), steps);

    Main->List()->Clear();
    View->Button2Click();
    View->Button3Click();
    Main->Button1Click();
    Settle();
    EXPECT_EQ(FScript.Asked().size(), steps);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, TurnsAccumulateAndOpeningResetsThem) {
    WriteRaw("wide.CR2", 60, 20);
    List({"wide.CR2.JPG", "b.png"});
    Open(0);

    for (int i = 0; i < 3; ++i)
        View->SpeedButton5Click();
    EXPECT_EQ(View->RImage1->Angle(), 270);
    EXPECT_EQ(View->RImage1->Rotated().Width(), 20);
    // Full screen always shows the picture unturned.
    EXPECT_EQ(Full->RImage2->Angle(), 0);

    // Reopening the RAW file builds it unturned.
    Open(0);
    EXPECT_EQ(View->RImage1->Angle(), 0);
    EXPECT_EQ(View->RImage1->Rotated().Width(), 60);

    View->SpeedButton4Click();
    EXPECT_EQ(View->RImage1->Angle(), -90);
    View->Button1Click();
    EXPECT_EQ(View->RImage1->Angle(), -180);

    // The shell road resets the turn as well.
    View->Button2Click();
    Settle();
    EXPECT_EQ(View->RImage1->Angle(), 0);
}

TEST_F(ViewerTest, KeysStepTurnStartTheShowAndCloseAndTheButtonsNameThem) {
    List({"a.png", "b.png", "c.png"});
    Open(1);
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        int Index; // list entry afterwards
        int Angle; // turn afterwards
    } rows[] = {
        {Qt::Key_Space, Qt::NoModifier, 2, 0},     {Qt::Key_PageDown, Qt::NoModifier, 0, 0},
        {Qt::Key_Backspace, Qt::NoModifier, 2, 0}, {Qt::Key_PageUp, Qt::NoModifier, 1, 0},
        {Qt::Key_L, Qt::ControlModifier, 1, 90},   {Qt::Key_BracketLeft, Qt::NoModifier, 1, 180},
        {Qt::Key_R, Qt::ControlModifier, 1, 90},   {Qt::Key_BracketRight, Qt::NoModifier, 1, 0},
        {Qt::Key_L, Qt::NoModifier, 1, 0}, // plain letters are not turns
        {Qt::Key_Right, Qt::NoModifier, 2, 0},     {Qt::Key_Left, Qt::NoModifier, 1, 0},
        {Qt::Key_End, Qt::NoModifier, 2, 0},       {Qt::Key_Home, Qt::NoModifier, 0, 0},
    };
    for (const auto &row : rows) {
        QTest::keyClick(View.get(), row.Key, row.Modifiers);
        EXPECT_EQ(Main->List()->ItemIndex(), row.Index) << QTest::toString(row.Key);
        EXPECT_EQ(View->RImage1->Angle(), row.Angle) << QTest::toString(row.Key);
    }

    QTest::keyClick(View.get(), Qt::Key_F5);
    EXPECT_TRUE(Full->isVisible());
    EXPECT_TRUE(View->Timer1->isActive());
    QTest::keyClick(Full.get(), Qt::Key_Escape);
    EXPECT_FALSE(View->Timer1->isActive());
    ASSERT_TRUE(View->isVisible());
    QTest::keyClick(View.get(), Qt::Key_Escape);
    EXPECT_FALSE(View->isVisible());

    // Each button names its keys in its hint; the glyph-only buttons have spoken names.
    const struct {
        QToolButton *Button;
        const char *Name;
        const char *Hint;
    } buttons[] = {
        {View->SpeedButton5, "Rotate Counter Clockwise", "Rotate Counter Clockwise (Ctrl+L, [)"},
        {View->SpeedButton4, "Rotate Clockwise", "Rotate Clockwise (Ctrl+R, ])"},
        {View->SpeedButton2, "Previous Image", "Previous Image (Backspace, PgUp, Left)"},
        {View->SpeedButton1, "Next Image", "Next Image (Space, PgDown, Right)"},
        {View->SpeedButton3, "Slideshow", "Slideshow (F5)"},
    };
    for (const auto &b : buttons) {
        EXPECT_EQ(b.Button->accessibleName().toStdString(), b.Name);
        EXPECT_EQ(b.Button->toolTip().toStdString(), b.Hint);
    }
}

TEST_F(ViewerTest, WindowsAndControlsAreLaidOutAsDesigned) {
    View->resize(764, 523);
    View->show();
    QCoreApplication::processEvents();
    // The top bar holds the five speed buttons at their designed places.
    EXPECT_EQ(View->Panel1->height(), 40);
    const struct {
        const char *Name;
        QToolButton *Button;
        int Left;
    } buttons[] = {
        {"SpeedButton5", View->SpeedButton5, 248}, {"SpeedButton4", View->SpeedButton4, 304},
        {"SpeedButton2", View->SpeedButton2, 360}, {"SpeedButton1", View->SpeedButton1, 408},
        {"SpeedButton3", View->SpeedButton3, 464},
    };
    for (const auto &b : buttons) {
        SCOPED_TRACE(b.Name);
        EXPECT_EQ(b.Button->parentWidget(), View->Panel1);
        EXPECT_EQ(b.Button->geometry(), QRect(b.Left, 8, 30, 20));
        EXPECT_EQ(b.Button->iconSize(), QSize(17, 17));
    }
    // White margins of 20 on the left, right and bottom; the picture fills what is left.
    const QRect window = View->rect();
    const QRect panel(View->Panel2->mapTo(View.get(), QPoint(0, 0)), View->Panel2->size());
    EXPECT_EQ(panel, QRect(20, 40, window.width() - 40, window.height() - 60));
    EXPECT_EQ(View->RImage1->geometry(), View->Panel2->rect());
    // The designer's other controls (the name, the memo, the shell options) stay hidden.
    std::vector<QWidget *> shown;
    for (QWidget *child : View->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            shown.push_back(child);
    EXPECT_EQ(shown, (std::vector<QWidget *>{View->Panel1, View->Panel2->parentWidget()}));
    const QImage shot = View->grab().toImage();
    for (const QPoint margin : {QPoint(10, 100), QPoint(window.width() - 10, 100),
                                QPoint(window.width() / 2, window.height() - 10)})
        EXPECT_EQ(shot.pixelColor(margin), ToQColor(clWindow)) << margin.x() << "," << margin.y();

    const struct {
        const char *Name;
        TRotateImage *Image;
        bool Center, Proportional, Transparent, Stretch, UniqueSize;
        TColor Color;
    } images[] = {
        {"RImage1", View->RImage1, true, true, true, false, false, clBtnFace},
        {"RImage2", Full->RImage2, true, true, false, false, false, clBlack},
    };
    for (const auto &i : images) {
        SCOPED_TRACE(i.Name);
        EXPECT_EQ(i.Image->Center(), i.Center);
        EXPECT_EQ(i.Image->Proportional(), i.Proportional);
        EXPECT_EQ(i.Image->Transparent(), i.Transparent);
        EXPECT_EQ(i.Image->Stretch(), i.Stretch);
        EXPECT_EQ(i.Image->UniqueSize(), i.UniqueSize);
        EXPECT_EQ(i.Image->Color(), i.Color);
    }
    EXPECT_EQ(Full->font(), DefaultGuiFont());
    EXPECT_EQ(Full->windowTitle(), "fullform");
}

TEST_F(ViewerTest, FullScreenShowsThePictureOnBlack) {
    List({"a.png"});
    FScript.Fill = Qt::white;
    Open(0);
    View->Button4Click();
    QCoreApplication::processEvents();
    ASSERT_TRUE(Full->isVisible());
    // The picture has the viewer's picture size, smaller than the screen: black around it.
    const QImage shot = Full->grab().toImage();
    ASSERT_GT(shot.width(), View->RImage1->width());
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() - 3), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() / 2), QColor(Qt::white));
}

// The buttons take their glyphs from the icon theme; each name is a standard icon name.
TEST_F(ViewerTest, SpeedButtonsShowTheIconThemesGlyphsOrDrawnTurns) {
    testutil::TempDir themes;
    const std::string dir = themes.file("pixtest/16x16");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir)));
    testutil::WriteFile(themes.file("pixtest/index.theme"),
                        std::string("[Icon Theme]\nName=pixtest\nDirectories=16x16\n\n"
                                    "[16x16]\nSize=16\nType=Fixed\n"));
    const struct {
        const char *Name; // a standard freedesktop icon name
        QColor Colour;
        QToolButton *TviewForm::*Button;
    } glyphs[] = {
        {"object-rotate-left", Qt::red, &TviewForm::SpeedButton5},
        {"object-rotate-right", Qt::green, &TviewForm::SpeedButton4},
        {"go-previous", Qt::blue, &TviewForm::SpeedButton2},
        {"go-next", Qt::cyan, &TviewForm::SpeedButton1},
        {"media-playback-start", Qt::magenta, &TviewForm::SpeedButton3},
    };
    for (const auto &g : glyphs) {
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(g.Colour);
        ASSERT_TRUE(icon.save(QString::fromStdString(dir + "/" + g.Name + ".png")));
    }
    const QStringList oldPaths = QIcon::themeSearchPaths();
    const QString oldTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({QString::fromStdString(themes.path())});
    QIcon::setThemeName("pixtest");
    {
        TviewForm themed;
        for (const auto &g : glyphs) {
            SCOPED_TRACE(g.Name);
            const QImage shown = (themed.*g.Button)->icon().pixmap(16, 16).toImage();
            EXPECT_EQ(shown.pixelColor(8, 8), g.Colour);
        }
    }
    // A theme without them: the turn buttons draw their arrows, smoothly, in the text colour.
    QIcon::setThemeName("hicolor-none");
    const QPalette oldPalette = QApplication::palette();
    QPalette inked = oldPalette;
    inked.setColor(QPalette::ButtonText, QColor(160, 0, 0));
    QApplication::setPalette(inked);
    {
        TviewForm plain;
        for (QToolButton *button : {plain.SpeedButton5, plain.SpeedButton4}) {
            const QImage glyph = button->icon().pixmap(17, 17).toImage();
            ASSERT_FALSE(glyph.isNull());
            int solid = 0, partial = 0, otherColour = 0;
            for (int y = 0; y < glyph.height(); ++y)
                for (int x = 0; x < glyph.width(); ++x) {
                    const QColor c = glyph.pixelColor(x, y);
                    solid += c.alpha() == 255;
                    partial += c.alpha() > 0 && c.alpha() < 255;
                    // Edge pixels too: their colour is the ink's, only fainter.
                    otherColour += c.alpha() >= 64 &&
                                   (std::abs(c.red() - 160) > 8 || c.green() > 8 || c.blue() > 8);
                }
            EXPECT_GT(solid, 0);
            EXPECT_GT(partial, 0); // antialiased edges
            EXPECT_EQ(otherColour, 0);
        }
    }
    QApplication::setPalette(oldPalette);
    QIcon::setThemeSearchPaths(oldPaths);
    QIcon::setThemeName(oldTheme);
}

TEST_F(ViewerTest, SlideshowStepsOnEachTickUntilTheFullScreenWindowCloses) {
    List({"a.png", "b.png", "c.png"});
    Open(0);
    EXPECT_EQ(View->Timer1->interval(), 5000);
    EXPECT_EQ(View->Timer1->timerType(), Qt::PreciseTimer); // a coarse one slips 5 % a tick
    EXPECT_FALSE(View->Timer1->isActive());
    View->Timer1Timer(); // a tick with the show off does nothing
    EXPECT_EQ(Main->List()->ItemIndex(), 0);

    // The timer itself drives the show: a short interval, and a wait for its first step.
    View->Timer1->setInterval(20);
    View->SpeedButton3Click();
    EXPECT_TRUE(Full->isVisible());
    EXPECT_TRUE(Full->windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(View->Timer1->isActive());
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->List()->ItemIndex() != 0; }));
    View->Timer1->setInterval(5000); // no further step while the rest is checked
    Settle();
    const int shown = Main->List()->ItemIndex();
    const char *const names[] = {"a.png", "b.png", "c.png"};
    EXPECT_EQ(FScript.Asked().back().Path, Folder.file(names[shown]));

    // Arrow keys in full screen step as well.
    QTest::keyClick(Full.get(), Qt::Key_Right);
    EXPECT_EQ(Main->List()->ItemIndex(), (shown + 1) % 3);

    QTest::mouseDClick(Full->RImage2, Qt::LeftButton);
    EXPECT_FALSE(Full->isVisible());
    EXPECT_FALSE(View->Timer1->isActive());
    View->Timer1Timer();
    EXPECT_EQ(Main->List()->ItemIndex(), (shown + 1) % 3);

    // Escape ends a show too.
    View->Button4Click();
    ASSERT_TRUE(Full->isVisible());
    QTest::keyClick(Full.get(), Qt::Key_Escape);
    EXPECT_FALSE(Full->isVisible());
    EXPECT_FALSE(View->Timer1->isActive());
}

// ---------------------------------------------------------------------------------------------
// Zoom

// A picture of one-pixel checks, black at the top-left.
bool CheckIsBlack(int x, int y) {
    return (x + y) % 2 == 0;
}

void WriteChecksPng(const std::string &path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, CheckIsBlack(x, y) ? 0xFF000000u : 0xFFFFFFFFu);
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

// Each pixel names its own place: red and green the low bytes of x and y, blue their high
// nibbles.
QRgb CodedPixel(int x, int y) {
    return qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256);
}
QPoint DecodedPixel(QColor c) {
    return QPoint(c.red() + 256 * (c.blue() / 16), c.green() + 256 * (c.blue() % 16));
}

// True when the block of device pixels around the middle of shot is one-pixel checks, each
// within tolerance of pure black or white.
bool ShowsDeviceChecks(const QImage &shot, int tolerance) {
    const QPoint middle(shot.width() / 2, shot.height() / 2);
    auto dark = [&](int x, int y, bool &exact) {
        const QColor c = shot.pixelColor(middle.x() + x, middle.y() + y);
        const int grey = (c.red() + c.green() + c.blue()) / 3;
        exact = exact && (grey <= tolerance || grey >= 255 - tolerance);
        return grey < 128;
    };
    bool exact = true;
    const bool first = dark(0, 0, exact);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (dark(x, y, exact) != (first == ((x + y) % 2 == 0)))
                return false;
    return exact;
}

TEST_F(ViewerTest, ZoomAt100PercentShowsEachPicturePixelOnOneOfTheDevicePixels) {
    // A PNG through the shell road, and a RAW preview too large for the screen, which the
    // fitted view decodes at a quarter: the zoom decodes it whole.
    const int rawWidth = 3200, rawHeight = 2400;
    WriteChecksPng(Folder.file("checks.png"), 1200, 900);
    cr2::Rgb checks{rawWidth, rawHeight, {}};
    for (int y = 0; y < rawHeight; ++y)
        for (int x = 0; x < rawWidth; ++x)
            for (int c = 0; c < 3; ++c)
                checks.Data.push_back(CheckIsBlack(x, y) ? 0 : 255);
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(checks, 100);
    cr2::WriteCr2(Folder.file("IMG_0001.CR2"), options);
    List({"checks.png", "IMG_0001.CR2.JPG"});

    const struct {
        int Index;
        int Tolerance; // the RAW preview is a JPEG
        QSize Full;
    } rows[] = {{0, 0, QSize(1200, 900)}, {1, 40, QSize(rawWidth, rawHeight)}};
    View->Show();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Index);
        Open(row.Index);
        QCoreApplication::processEvents();
        EXPECT_FALSE(ShowsDeviceChecks(View->Panel2->grab().toImage(), row.Tolerance));
        // Nothing is decoded at full size before the zoom asks for it.
        EXPECT_FALSE(View->Zoom()->Decoding());

        QTest::keyClick(View.get(), Qt::Key_Z);
        ASSERT_TRUE(testutil::WaitFor(
            [&] { return !View->Zoom()->Decoding() && View->Zoom()->View()->isVisible(); }));
        EXPECT_EQ(View->Zoom()->View()->Picture().size(), row.Full);
        EXPECT_TRUE(ShowsDeviceChecks(View->Panel2->grab().toImage(), row.Tolerance));

        QTest::keyClick(View.get(), Qt::Key_Z);
        EXPECT_TRUE(View->Zoom()->Fitted());
        EXPECT_FALSE(ShowsDeviceChecks(View->Panel2->grab().toImage(), row.Tolerance));
    }
}

TEST_F(ViewerTest, ZoomKeepsItsSpotAcrossPicturesTurnsThePointerAndTheHand) {
    // Two pictures of one burst, each pixel coloured by its place.
    QImage coded(1000, 800, QImage::Format_RGB32);
    for (int y = 0; y < coded.height(); ++y)
        for (int x = 0; x < coded.width(); ++x)
            coded.setPixel(x, y, CodedPixel(x, y));
    for (const char *name : {"a.png", "b.png"})
        ASSERT_TRUE(coded.save(QString::fromStdString(Folder.file(name)), "PNG"));
    List({"a.png", "b.png"});
    View->Show();
    Open(0);
    TViewZoom *zoom = View->Zoom();
    auto waitForFull = [&] {
        ASSERT_TRUE(
            testutil::WaitFor([&] { return !zoom->Decoding() && zoom->View()->isVisible(); }));
    };
    const qreal ratio = View->devicePixelRatioF();
    // The picture pixel shown at a point of the view (logical pixels).
    auto shownAt = [&](QPoint at) {
        return DecodedPixel(
            zoom->View()->grab().toImage().pixelColor((QPointF(at) * ratio).toPoint()));
    };
    auto near = [](QPoint a, QPoint b) { return (a - b).manhattanLength() <= 2; };
    const QPoint middle = zoom->View()->rect().center();

    QTest::keyClick(View.get(), Qt::Key_Z);
    waitForFull();
    EXPECT_EQ(zoom->Scale(), 1.0);
    const QPoint before = shownAt(middle);

    // The picture is wider than the view, so Right moves along it instead of stepping on.
    QTest::keyClick(View.get(), Qt::Key_Right);
    EXPECT_EQ(Main->List()->ItemIndex(), 0);
    const QPoint panned = shownAt(middle);
    EXPECT_GT(panned.x(), before.x());

    // The next picture of the burst shows the same spot at the same zoom.
    QTest::keyClick(View.get(), Qt::Key_Space);
    ASSERT_EQ(Main->List()->ItemIndex(), 1);
    Settle();
    waitForFull();
    EXPECT_TRUE(near(shownAt(middle), panned));

    // A quarter turn either way keeps that spot in the middle.
    View->SpeedButton5Click();
    EXPECT_TRUE(near(shownAt(middle), panned));
    View->SpeedButton4Click();
    View->SpeedButton4Click();
    EXPECT_TRUE(near(shownAt(middle), panned));
    View->SpeedButton5Click();

    // Ctrl and the wheel zoom about the pointer.
    const QPoint pointer = middle + QPoint(-80, 50);
    const QPoint underPointer = shownAt(pointer);
    QWheelEvent wheel(QPointF(pointer), QPointF(zoom->View()->mapToGlobal(pointer)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(zoom->View(), &wheel);
    EXPECT_GT(zoom->Scale(), 1.0);
    EXPECT_TRUE(near(shownAt(pointer), underPointer));

    // Dragging takes the picture along with the hand.
    const QPoint from = middle, to = middle + QPoint(-40, -30);
    const QPoint held = shownAt(from);
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(zoom->View()->mapToGlobal(at)), Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(zoom->View(), &event);
    };
    mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    EXPECT_EQ(zoom->View()->cursor().shape(), Qt::ClosedHandCursor); // the hand takes hold
    mouse(QEvent::MouseMove, to, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    EXPECT_TRUE(near(shownAt(to), held));

    // + and - step from the fitted view, not from the zoom left, to either side of it; no step
    // is more than half as large again as the one below it.
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(View.get(), Qt::Key_Plus);
    QTest::keyClick(View.get(), Qt::Key_Z);
    ASSERT_TRUE(zoom->Fitted());
    const double fit = double(View->RImage1->GetDestRect().Width()) * ratio / coded.width();
    QTest::keyClick(View.get(), Qt::Key_Plus);
    EXPECT_GT(zoom->Scale(), fit);
    EXPECT_LE(zoom->Scale(), 1.5 * fit);
    QTest::keyClick(View.get(), Qt::Key_Z);
    QTest::keyClick(View.get(), Qt::Key_Minus);
    EXPECT_LT(zoom->Scale(), fit);

    // However often it is turned, the zoom shows the picture as the control has it.
    for (int i = 0; i < 45; ++i)
        View->SpeedButton4Click();
    EXPECT_EQ(zoom->View()->Picture().size(), coded.size().transposed());
}

TEST_F(ViewerTest, ZoomOnAFileThatCannotBeReadWholeEnlargesThePictureShown) {
    List({"broken.png"}); // one byte: the shell's picture is all there is
    Open(0);
    QTest::keyClick(View.get(), Qt::Key_Z);
    ASSERT_TRUE(testutil::WaitFor([&] { return !View->Zoom()->Decoding(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(View->Zoom()->View()->isVisible());
    EXPECT_EQ(View->Zoom()->View()->Picture().width(), View->RImage1->Rotated().Width());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(ViewerTest, TheTopBarSaysWhereThePictureIsInTheList) {
    List({"a.png", "b.png", "c.png"});
    Open(1);
    EXPECT_EQ(View->LabelPosition->text(), "2 of 3");
    EXPECT_EQ(View->LabelPosition->parentWidget(), View->Panel1);
    // At the bar's right, 20 pixels clear of its edge, over the bar's whole height.
    const QRect at = View->LabelPosition->geometry();
    EXPECT_EQ(at.right(), View->Panel1->width() - 1 - 20);
    EXPECT_EQ(at.height(), View->Panel1->height());
    EXPECT_EQ(View->LabelPosition->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    View->Button2Click();
    View->Button2Click(); // wraps
    EXPECT_EQ(View->LabelPosition->text(), "1 of 3");
}

TEST_F(ViewerTest, F11TogglesFullScreenWithoutTheSlideshow) {
    List({"a.png"});
    Open(0);
    QTest::keyClick(View.get(), Qt::Key_F11);
    EXPECT_TRUE(View->isFullScreen());
    EXPECT_FALSE(View->Timer1->isActive());
    EXPECT_FALSE(Full->isVisible());
    QTest::keyClick(View.get(), Qt::Key_F11);
    EXPECT_FALSE(View->isFullScreen());
    EXPECT_TRUE(View->windowState() & Qt::WindowMaximized);
    // Escape leaves full screen first, and closes the window only then.
    QTest::keyClick(View.get(), Qt::Key_F11);
    QTest::keyClick(View.get(), Qt::Key_Escape);
    EXPECT_FALSE(View->isFullScreen());
    EXPECT_TRUE(View->isVisible());
}

} // namespace
