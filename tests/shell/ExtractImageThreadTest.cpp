// The extractor thread's message protocol, driven against a recording window.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Dialogs.h"
#include "ExtractImageThread.h"
#include "ListView.h"
#include "ShellFakes.h"
#include "ShellObjHelper.h"
#include "TestUtil.h"
#include "ThumbnailCache.h"

using namespace shelltest;

namespace {

constexpr UINT IconsDone = 1128, UseImage = 1129, AddImage = 1126, ReplaceImage = 1130,
               ItemStarted = 1131;

struct Msg {
    UINT Id;
    WPARAM Item;
    LPARAM Param; // image index for UseImage
    std::shared_ptr<TBitmap> Bitmap;
    bool operator==(const Msg &o) const { return Id == o.Id && Item == o.Item && Param == o.Param; }
};

std::string Name(UINT id) {
    switch (id) {
    case IconsDone:
        return "IconsDone";
    case UseImage:
        return "UseImage";
    case AddImage:
        return "AddImage";
    case ReplaceImage:
        return "ReplaceImage";
    case ItemStarted:
        return "ItemStarted";
    default:
        return std::to_string(id);
    }
}

std::string Show(const std::vector<Msg> &msgs) {
    std::string s;
    for (const Msg &m : msgs)
        s += Name(m.Id) + "(" + std::to_string(m.Item) +
             (m.Id == UseImage ? "," + std::to_string(m.Param) : std::string()) + ") ";
    return s;
}

Msg Started(int i) {
    return {ItemStarted, WPARAM(i), 0, nullptr};
}
Msg Add(int i) {
    return {AddImage, WPARAM(i), 0, nullptr};
}
Msg Use(int i, int image) {
    return {UseImage, WPARAM(i), image, nullptr};
}
Msg Replace(int i) {
    return {ReplaceImage, WPARAM(i), 0, nullptr};
}
Msg Done() {
    return {IconsDone, 0, 0, nullptr};
}

// A window that records what the thread posts, a list view with the items, and the run.
class ExtractorRun : public ::testing::Test {
protected:
    ExtractorRun() : FWindow(nullptr, [this](TMessage &m) { Record(m); }) {
        FNotify = {FWindow.Handle(), IconsDone, UseImage, AddImage, ReplaceImage, ItemStarted};
    }

    void Record(TMessage &m) {
        Msg msg{m.Msg, m.WParam, 0, nullptr};
        if (m.Msg == AddImage || m.Msg == ReplaceImage)
            msg.Bitmap.reset(reinterpret_cast<TBitmap *>(m.LParam)); // the window owns it
        else
            msg.Param = m.LParam;
        Messages.push_back(msg);
        if (OnMessage)
            OnMessage(msg);
    }

    // Creates files with these names (so icons come from real types) and list items for them.
    void Items(const std::vector<std::string> &names) {
        for (const std::string &n : names) {
            testutil::WriteFile(Dir.file(n), std::string("x"));
            List.AddItem(n);
        }
    }

    TThumbnailExtractorThread *Make(unsigned flags = 0, int width = 120, int height = 120,
                                    unsigned depth = 32, double iconScale = 1.0) {
        Thread = new TThumbnailExtractorThread(FNotify, Dir.path() + "/", &List, width, height,
                                               depth, flags, iconScale);
        Thread->OnTerminate = [this](TThread *) {
            Ended = true;
            Thread = nullptr;
        };
        return Thread;
    }

    void Run(unsigned flags = 0) {
        Make(flags)->Resume();
        Wait();
    }

    void Wait() {
        ASSERT_TRUE(testutil::WaitFor([&] { return Ended; }));
    }

    // Runs to the end; returns what probe said as the run ended, before anything after it.
    int RunProbingTheEnd(const std::function<int()> &probe) {
        int atTheEnd = -1;
        Make()->OnTerminate = [&](TThread *) {
            atTheEnd = probe();
            Ended = true;
            Thread = nullptr;
        };
        Thread->Resume();
        Wait();
        return atTheEnd;
    }

    // The messages of the thumbnail pass (after IconsDone).
    std::vector<Msg> AfterIconsDone() const {
        std::vector<Msg> out;
        bool seen = false;
        for (const Msg &m : Messages) {
            if (seen)
                out.push_back(m);
            seen = seen || m.Id == IconsDone;
        }
        return out;
    }

    testutil::TempDir Dir;
    TListView List;
    TWindowHandle FWindow;
    TThumbnailExtractorNotify FNotify;
    TThumbnailExtractorThread *Thread = nullptr;
    bool Ended = false;
    std::vector<Msg> Messages;
    std::function<void(const Msg &)> OnMessage;
    FakeFactory Fakes;
};

TEST_F(ExtractorRun, ThreeItemsWithOneIconShareItAndTheLastOverwritesIt) {
    Items({"a.jpg", "b.jpg", "c.jpg"});
    Run();
    const std::vector<Msg> &got = Messages;
    const std::vector<Msg> want = {Started(0), Add(0),     Started(1), Use(1, 0), Started(2),
                                   Use(2, 0),  Done(),     Started(0), Add(0),    Started(1),
                                   Add(1),     Started(2), Replace(2)};
    EXPECT_EQ(got, want) << Show(got);

    // Icon image: the icon centred on the window colour inside a button-face frame.
    const QImage &icon = Messages[1].Bitmap->Image();
    ASSERT_EQ(icon.size(), QSize(120, 120));
    EXPECT_EQ(icon.pixel(0, 0), ToQRgb(clBtnFace));
    EXPECT_EQ(icon.pixel(119, 60), ToQRgb(clBtnFace));
    EXPECT_EQ(icon.pixel(5, 5), ToQRgb(clWindow));
    bool drawn = false;
    for (int y = 44; y < 76; ++y)
        for (int x = 44; x < 76; ++x)
            drawn = drawn || icon.pixel(x, y) != ToQRgb(clWindow);
    EXPECT_TRUE(drawn) << "no icon drawn in the middle";
    // Centred: the 32-pixel icon stays within (120 - 32) / 2 = 44 of every side.
    int outside = 0;
    for (int y = 1; y < 119; ++y)
        for (int x = 1; x < 119; ++x)
            if ((x < 44 || x >= 76 || y < 44 || y >= 76) && icon.pixel(x, y) != ToQRgb(clWindow))
                ++outside;
    EXPECT_EQ(outside, 0);
}

TEST_F(ExtractorRun, IconsAreDrawnLargerOnScreensWithMoreDevicePixels) {
    Items({"notes.txt"});
    // Cells of 120 x 120 on screen at 1, 1.5 and 2 device pixels per pixel: the 32-pixel icon
    // must cover 32, 48 and 64 device pixels, less its own margin, centred in the cell.
    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        Messages.clear();
        Ended = false;
        const int cell = int(120 * scale), side = int(32 * scale);
        Make(0, cell, cell, 32, scale)->Resume();
        Wait();
        ASSERT_FALSE(Messages.size() < 2 || !Messages[1].Bitmap) << Show(Messages);
        const QImage &image = Messages[1].Bitmap->Image();
        ASSERT_EQ(image.size(), QSize(cell, cell));
        QRect drawn;
        for (int y = 1; y < cell - 1; ++y)
            for (int x = 1; x < cell - 1; ++x)
                if (image.pixel(x, y) != ToQRgb(clWindow))
                    drawn |= QRect(x, y, 1, 1);
        const QRect square((cell - side) / 2, (cell - side) / 2, side, side);
        EXPECT_TRUE(square.contains(drawn))
            << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();
        EXPECT_GE(std::max(drawn.width(), drawn.height()), side * 6 / 10);
    }
}

TEST_F(ExtractorRun, FailedThumbnailKeepsItsIconAndCountsAsShowing) {
    Fakes.Behaviours["c.jpg"].Fail = true;
    Items({"a.jpg", "b.jpg", "c.jpg"});
    Run();
    EXPECT_EQ(AfterIconsDone(),
              (std::vector<Msg>{Started(0), Add(0), Started(1), Add(1), Started(2)}))
        << Show(Messages);

    Messages.clear();
    Ended = false;
    Fakes.Behaviours.clear();
    Fakes.Behaviours["a.jpg"].Fail = true;
    Run();
    // ShowingCount goes 3, 2, 1: the last success overwrites nothing but is appended too.
    EXPECT_EQ(AfterIconsDone(),
              (std::vector<Msg>{Started(0), Started(1), Add(1), Started(2), Add(2)}))
        << Show(Messages);
}

TEST_F(ExtractorRun, DistinctIconsEachGetTheirOwnImage) {
    Items({"a.jpg", "b.txt", "c.jpg"});
    ASSERT_NE(GetSysIconIndex(Dir.file("a.jpg")), GetSysIconIndex(Dir.file("b.txt")));
    Fakes.Behaviours["b.txt"].Fail = true;
    Run();
    const std::vector<Msg> want = {Started(0), Add(0),     Started(1), Add(1),
                                   Started(2), Use(2, 0),  Done(),     Started(0),
                                   Add(0),     Started(1), Started(2), Replace(2)};
    EXPECT_EQ(Messages, want) << Show(Messages);
}

TEST_F(ExtractorRun, AsksEveryExtractorForItsSizeDepthAndFlags) {
    Items({"a.jpg", "b.jpg"});
    Make(IEIFLAG_QUALITY | IEIFLAG_SCREEN, 96, 64, 24)->Resume();
    Wait();
    const auto made = Fakes.Extractors();
    ASSERT_EQ(made.size(), 2u);
    for (const auto &fake : made) {
        const auto asked = fake->Asked();
        EXPECT_EQ(asked.Size, QSize(96, 64));
        EXPECT_EQ(asked.Depth, 24u);
        // The asynchronous flag is the thread's own addition.
        EXPECT_EQ(asked.Flags, DWORD(IEIFLAG_QUALITY | IEIFLAG_SCREEN | IEIFLAG_ASYNC));
        EXPECT_EQ(asked.Capacity, 261u); // MAX_PATH characters and the terminator
    }
}

TEST_F(ExtractorRun, EmptyListPostsOnlyIconsDone) {
    Run();
    EXPECT_EQ(Messages, std::vector<Msg>{Done()}) << Show(Messages);
    EXPECT_TRUE(Fakes.Extractors().empty());
}

TEST_F(ExtractorRun, ThumbnailIsCentredOrCroppedAndFramedUnlessNoBorder) {
    QImage big(200, 160, QImage::Format_RGB32);
    big.fill(qRgb(0, 0, 255));
    big.setPixel(40, 20, qRgb(0, 255, 0)); // lands on the cell's corner (0, 0)
    big.setPixel(41, 21, qRgb(255, 255, 0));
    Fakes.Behaviours["small.jpg"].Size = QSize(61, 40);
    Fakes.Behaviours["big.jpg"].Picture = big;
    Fakes.Behaviours["exact.jpg"].Size = QSize(120, 120);
    Fakes.Behaviours["exact.jpg"].ReturnFlags = IEIFLAG_NOBORDER;
    Items({"small.jpg", "big.jpg", "exact.jpg"});
    Run();
    std::map<int, QImage> pictures;
    for (const Msg &m : AfterIconsDone())
        if (m.Bitmap)
            pictures[int(m.Item)] = m.Bitmap->Image();
    ASSERT_EQ(pictures.size(), 3u) << Show(Messages);

    const QRgb red = qRgb(200, 0, 0), window = ToQRgb(clWindow), face = ToQRgb(clBtnFace);
    const QImage &small = pictures[0];
    ASSERT_EQ(small.size(), QSize(120, 120));
    // x = (120 - 61) / 2 = 29, y = 40: truncated, not rounded.
    EXPECT_EQ(small.pixel(29, 40), red);
    EXPECT_EQ(small.pixel(89, 79), red);
    EXPECT_EQ(small.pixel(28, 60), window);
    EXPECT_EQ(small.pixel(90, 60), window);
    EXPECT_EQ(small.pixel(60, 39), window);
    EXPECT_EQ(small.pixel(0, 60), face);

    const QImage &cropped = pictures[1];
    ASSERT_EQ(cropped.size(), QSize(120, 120));
    EXPECT_EQ(cropped.pixel(0, 0), face); // the frame covers the corner
    EXPECT_EQ(cropped.pixel(1, 1), qRgb(255, 255, 0));
    EXPECT_EQ(cropped.pixel(60, 60), qRgb(0, 0, 255));

    const QImage &exact = pictures[2];
    EXPECT_EQ(exact.pixel(0, 0), red);
    EXPECT_EQ(exact.pixel(119, 119), red);
}

TEST_F(ExtractorRun, AbortBeforeTheThreadBeginsPostsNothing) {
    Items({"a.jpg", "b.jpg"});
    TThumbnailExtractorThread *t = Make();
    t->Abort();
    t->Resume();
    Wait();
    EXPECT_TRUE(Messages.empty()) << Show(Messages);
}

TEST_F(ExtractorRun, AbortDuringTheIconPassStillEndsItWithIconsDone) {
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i)
        names.push_back("p" + std::to_string(i) + ".jpg");
    Items(names);
    OnMessage = [this](const Msg &m) {
        if (m.Id == ItemStarted && m.Item == 1 && Thread)
            Thread->Abort();
    };
    Run();
    ASSERT_FALSE(Messages.empty());
    EXPECT_EQ(Messages.back(), Done()) << Show(Messages);
    // Reading item 2's caption waits for the window, which handles the start of item 1 (and so
    // the abort) first: item 2 is the last one the pass may still report.
    WPARAM last = 0;
    for (const Msg &m : Messages)
        if (m.Id != IconsDone)
            last = std::max(last, m.Item);
    EXPECT_LE(last, 2u) << Show(Messages);
    EXPECT_TRUE(Fakes.Extractors().empty());
}

TEST_F(ExtractorRun, AbortDuringAnExtractionKillsItAndDropsItsPicture) {
    Fakes.Behaviours["slow.jpg"].BlockUntilKilled = true;
    Items({"slow.jpg", "b.jpg"});
    OnMessage = [this](const Msg &m) {
        if (m.Id == ItemStarted && m.Item == 0 && Thread && !AfterIconsDone().empty())
            Thread->Abort();
    };
    Run();
    EXPECT_EQ(AfterIconsDone(), std::vector<Msg>{Started(0)}) << Show(Messages);
    const auto made = Fakes.Extractors();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(made[0]->Killed);
}

TEST_F(ExtractorRun, AbortAndWaitStopsTheRunWithoutItsEndOfRunCall) {
    // The owner going away: the wait serves the worker's list reads, the extraction under way
    // is killed, and the window's end-of-run handler is not called.
    Fakes.Behaviours["slow.jpg"].BlockUntilKilled = true;
    Items({"slow.jpg", "b.jpg"});
    Make()->Resume();
    ASSERT_TRUE(testutil::WaitFor([this] {
        const auto made = Fakes.Extractors();
        return !made.empty() && made[0]->Started;
    }));
    EXPECT_TRUE(Thread->AbortAndWait());
    Thread = nullptr;
    EXPECT_FALSE(Ended);
    EXPECT_TRUE(Fakes.Extractors()[0]->Killed);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(AfterIconsDone(), std::vector<Msg>{Started(0)}) << Show(Messages);
}

TEST_F(ExtractorRun, KeepsItsOwnCopyOfTheNotifyRecord) {
    // The record handed in is changed and freed before the run starts; the run still posts
    // where and what the record said at creation.
    Items({"a.jpg"});
    auto notify = std::make_unique<TThumbnailExtractorNotify>(FNotify);
    Thread = new TThumbnailExtractorThread(*notify, Dir.path(), &List, 120, 120, 32, 0);
    Thread->OnTerminate = [this](TThread *) { Ended = true; };
    *notify = {0, 1, 2, 3, 4, 5};
    notify.reset();
    Thread->Resume();
    Wait();
    const std::vector<Msg> want = {Started(0), Add(0), Done(), Started(0), Replace(0)};
    EXPECT_EQ(Messages, want) << Show(Messages);
}

// A failure that ends the run is reported in one error box, captioned with its class.
TEST_F(ExtractorRun, AFailureThatEndsTheRunShowsOneErrorBox) {
    const struct {
        const char *Name;
        bool ImageList, OutOfMemory;
        bool IconsDone; // the icon pass ran first
        const char *Box;
    } rows[] = {
        {"no system image list", false, false, false,
         "EThumbnailExtractorThreadError: Cannot obtain System ImageList handle"},
        {"out of memory", true, true, true, "EOutOfMemory: Out of memory"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Name);
        Messages.clear();
        Ended = false;
        std::vector<std::string> boxes;
        auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
            s.MessageBox = [&](HWND owner, const std::string &text, const std::string &caption,
                               UINT type) {
                EXPECT_EQ(owner, FNotify.Window);
                EXPECT_EQ(type, MB_ICONERROR);
                boxes.push_back(caption + ": " + text);
                return IDOK;
            };
            s.SystemImageListAvailable = row.ImageList;
        });
        Fakes.Default.OutOfMemory = row.OutOfMemory;
        if (List.Count() == 0)
            Items({"a.jpg"});
        Run();
        scope.reset();
        if (!row.IconsDone) {
            EXPECT_TRUE(Messages.empty()) << Show(Messages);
        }
        EXPECT_EQ(boxes, std::vector<std::string>{row.Box});
    }
}

TEST_F(ExtractorRun, ItemsRemovedDuringTheRunGetNoMessages) {
    Items({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    OnMessage = [this](const Msg &m) {
        if (m.Id == ItemStarted && m.Item == 1 && List.Count() == 4) {
            delete List.takeItem(3);
            delete List.takeItem(2);
        }
    };
    Run();
    for (const Msg &m : Messages)
        EXPECT_LT(m.Item, 2u) << Show(Messages);
    EXPECT_FALSE(AfterIconsDone().empty());
}

TEST_F(ExtractorRun, FileDeletedBetweenThePassesKeepsItsIconAndTheRunGoesOn) {
    QImage picture(50, 40, QImage::Format_RGB32);
    picture.fill(Qt::green);
    ASSERT_TRUE(picture.save(QString::fromStdString(Dir.file("a.png"))));
    ASSERT_TRUE(picture.save(QString::fromStdString(Dir.file("b.png"))));
    List.AddItem("a.png");
    List.AddItem("b.png");
    std::vector<std::string> boxes;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.CreateExtractImage = nullptr; // the real extractors
        s.MessageBox = [&](HWND, const std::string &text, const std::string &, UINT) {
            boxes.push_back(text);
            return IDOK;
        };
    });
    testutil::TempDir cache;
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.path()));
    OnMessage = [this](const Msg &m) {
        if (m.Id == IconsDone)
            std::remove(Dir.file("a.png").c_str());
    };
    Run();
    scope.reset();
    qunsetenv("XDG_CACHE_HOME");
    EXPECT_TRUE(boxes.empty());
    // Item 0 still shows the shared icon, so item 1's picture is appended.
    EXPECT_EQ(AfterIconsDone(), (std::vector<Msg>{Started(0), Started(1), Add(1)}))
        << Show(Messages);
}

// The decode-ahead workers of the threads one test makes.
class DecodeAheadWorkers {
public:
    explicit DecodeAheadWorkers(int n) { TThumbnailExtractorThread::SetDecodeAheadWorkers(n); }
    ~DecodeAheadWorkers() { TThumbnailExtractorThread::SetDecodeAheadWorkers(-1); }
};

// Pictures of several kinds, a file that is no picture and a damaged JPEG, with real decoding.
class DecodeAhead : public ExtractorRun {
protected:
    DecodeAhead()
        : FReal(testutil::ChangeServices([](TPlatformServices &s) {
              s.CreateExtractImage = nullptr;
              s.DebugOutput = [](const std::string &) {};
          })) {
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(Cache.path()));
    }
    ~DecodeAhead() override { qunsetenv("XDG_CACHE_HOME"); }

    // 0 photo.jpg, 1 alpha.png, 2 notes.txt, 3 broken.jpg, 4 palette.bmp, 5 grey.jpg and 6
    // scan.pdf, which holds a PNG.
    void MixedFolder() {
        QImage photo(640, 427, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(x * 255 / 640, (x * y) % 251, (x ^ y) & 0xFF));
        Save(photo, "photo.jpg", "jpeg");
        QImage alpha(300, 200, QImage::Format_ARGB32);
        for (int y = 0; y < alpha.height(); ++y)
            for (int x = 0; x < alpha.width(); ++x)
                alpha.setPixel(x, y, qRgba(200, x % 256, 40, (x + y) % 256));
        Save(alpha, "alpha.png", "png");
        testutil::WriteFile(Dir.file("notes.txt"), std::string("not a picture"));
        testutil::WriteFile(Dir.file("broken.jpg"), std::string("\xFF\xD8\xFF\xE0 damaged", 13));
        Save(photo.scaled(200, 300).convertToFormat(QImage::Format_Indexed8), "palette.bmp", "bmp");
        Save(photo.convertToFormat(QImage::Format_Grayscale8), "grey.jpg", "jpeg");
        Save(photo.copy(0, 0, 90, 150), "scan.pdf", "png");
        for (const char *name : {"photo.jpg", "alpha.png", "notes.txt", "broken.jpg", "palette.bmp",
                                 "grey.jpg", "scan.pdf"})
            List.AddItem(name);
    }

    void Save(const QImage &image, const std::string &name, const char *format) {
        ASSERT_TRUE(image.save(QString::fromStdString(Dir.file(name)), format));
    }

    // Whether every picture has its cache entry, the damaged one its failure entry.
    bool AllDecoded() const {
        for (const char *name : {"photo.jpg", "alpha.png", "palette.bmp", "grey.jpg", "scan.pdf"})
            if (!testutil::FileExists(ThumbnailCachePath(Dir.file(name), false)))
                return false;
        return testutil::FileExists(ThumbnailFailPath(Dir.file("broken.jpg")));
    }

    // A cold run: empty cache, messages and pictures of the run in order.
    std::vector<Msg> ColdRun() {
        std::filesystem::remove_all(Cache.path() + "/thumbnails");
        Messages.clear();
        Ended = false;
        Run();
        return Messages;
    }

    testutil::TempDir Cache;
    std::unique_ptr<TServicesScope> FReal;
};

TEST_F(DecodeAhead, DecodingAheadLeavesTheMessagesTheirOrderAndThePicturesAsTheyWere) {
    MixedFolder();
    const int picture = GetSysIconIndex(Dir.file("photo.jpg"));
    for (const char *name : {"alpha.png", "broken.jpg", "palette.bmp", "grey.jpg"})
        ASSERT_EQ(GetSysIconIndex(Dir.file(name)), picture) << name;
    const std::set<int> icons = {picture, GetSysIconIndex(Dir.file("notes.txt")),
                                 GetSysIconIndex(Dir.file("scan.pdf"))};
    ASSERT_EQ(icons.size(), 3u);

    std::vector<Msg> oneAtATime;
    {
        DecodeAheadWorkers none(0);
        oneAtATime = ColdRun();
    }
    // The pictures share an icon, which the damaged JPEG keeps showing, so each of their
    // thumbnails is added; the PDF's own icon is overwritten by its thumbnail.
    const std::vector<Msg> want = {
        Started(0), Add(0),     Started(1), Use(1, 0),  Started(2), Add(2),     Started(3),
        Use(3, 0),  Started(4), Use(4, 0),  Started(5), Use(5, 0),  Started(6), Add(6),
        Done(),     Started(0), Add(0),     Started(1), Add(1),     Started(2), Started(3),
        Started(4), Add(4),     Started(5), Add(5),     Started(6), Replace(6)};
    ASSERT_EQ(oneAtATime, want) << Show(oneAtATime);

    // Decoding ahead: the pass is held at its start until the workers have decoded every
    // picture (and failed on the damaged one), so it reads them all from the cache.
    DecodeAheadWorkers two(2);
    bool decodedAhead = false;
    OnMessage = [&](const Msg &m) {
        if (m.Id != IconsDone)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!(decodedAhead = AllDecoded()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    const std::vector<Msg> ahead = ColdRun();
    EXPECT_TRUE(decodedAhead);
    ASSERT_EQ(ahead, want) << Show(ahead);
    for (std::size_t k = 0; k < want.size(); ++k) {
        if (!oneAtATime[k].Bitmap)
            continue;
        const QImage &a = oneAtATime[k].Bitmap->Image();
        const QImage &b = ahead[k].Bitmap->Image();
        EXPECT_TRUE(a.convertToFormat(QImage::Format_RGB32) ==
                    b.convertToFormat(QImage::Format_RGB32))
            << "picture of message " << k << ", " << Show({want[k]});
    }
}

TEST_F(ExtractorRun, AbortKillsEveryDecodeAheadAtOnceAndNoneOutlivesTheRun) {
    DecodeAheadWorkers two(2);
    FakePrefetches ahead;
    std::vector<std::string> names;
    for (int i = 0; i < 8; ++i)
        names.push_back("p" + std::to_string(i) + ".jpg");
    Items(names);
    bool killedAtOnce = false;
    OnMessage = [&](const Msg &m) {
        // Item 3 of the icon pass: the two workers are in decodes that end only when killed.
        if (m.Id == ItemStarted && m.Item == 3 && Thread && AfterIconsDone().empty()) {
            ASSERT_TRUE(ahead.WaitStarted(2));
            Thread->Abort();
            killedAtOnce = ahead.AllKilled();
        }
    };
    const int runningAtTheEnd = RunProbingTheEnd([&] { return ahead.Running(); });
    EXPECT_TRUE(killedAtOnce);
    EXPECT_EQ(runningAtTheEnd, 0);
    // One decode per worker, and none begun after the abort.
    EXPECT_EQ(ahead.Started(), 2);
    EXPECT_EQ(ahead.MostAtOnce(), 2);
    EXPECT_EQ(Messages.back(), Done()) << Show(Messages);
    EXPECT_TRUE(Fakes.Extractors().empty());
}

TEST_F(ExtractorRun, ThePassWaitsForADecodeAheadOfItsItemAndAbortAndWaitEndsBoth) {
    DecodeAheadWorkers one(1);
    FakePrefetches ahead;
    std::size_t extractorsWhenTheDecodeEnded = 99;
    ahead.OnEnd = [&](const std::string &) {
        extractorsWhenTheDecodeEnded = Fakes.Extractors().size();
    };
    Items({"a.jpg", "b.jpg"});
    Make()->Resume();
    // The pass has begun item 0, whose decode ahead never ends by itself.
    ASSERT_TRUE(testutil::WaitFor([&] { return !AfterIconsDone().empty(); }));
    EXPECT_TRUE(Thread->AbortAndWait());
    Thread = nullptr;
    EXPECT_EQ(ahead.Started(), 1);
    EXPECT_TRUE(ahead.AllKilled());
    EXPECT_EQ(ahead.Running(), 0);
    // a.jpg was not extracted while its decode ahead ran, nor b.jpg at all.
    EXPECT_EQ(extractorsWhenTheDecodeEnded, 0u);
    EXPECT_LE(Fakes.Extractors().size(), 1u);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(AfterIconsDone(), std::vector<Msg>{Started(0)}) << Show(Messages);
}

TEST_F(ExtractorRun, ADecodeAheadThePassNeverClaimsIsStoppedBeforeTheRunEnds) {
    DecodeAheadWorkers two(2);
    FakePrefetches ahead;
    ahead.Quick = {"a.jpg"};
    Items({"a.jpg", "b.jpg"});
    OnMessage = [&](const Msg &m) {
        // b.jpg leaves the list while its decode ahead runs: the pass does not come to it.
        if (m.Id == IconsDone) {
            ASSERT_TRUE(ahead.WaitStarted(2));
            delete List.takeItem(1);
        }
    };
    const int runningAtTheEnd = RunProbingTheEnd([&] { return ahead.Running(); });
    EXPECT_EQ(runningAtTheEnd, 0);
    // The shared icon counts b.jpg still, so a.jpg's thumbnail is added.
    EXPECT_EQ(AfterIconsDone(), (std::vector<Msg>{Started(0), Add(0)})) << Show(Messages);
}

} // namespace
