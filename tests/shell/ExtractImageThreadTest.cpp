// The extractor thread's message protocol, driven against a recording window.
#include <gtest/gtest.h>

#include <algorithm>

#include <functional>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "ExtractImageThread.h"
#include "ListView.h"
#include "ShellFakes.h"
#include "ShellObjHelper.h"
#include "TestUtil.h"

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
                                    unsigned depth = 32) {
        Thread = new TThumbnailExtractorThread(FNotify, Dir.path() + "/", &List, width, height,
                                               depth, flags);
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

} // namespace
