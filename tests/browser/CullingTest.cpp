// Culling a card by the keys, in the real windows: marks that the exiv2 program reads back
// with every other property intact, and deleting to the trash with undo.
#include <QAction>
#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "FileSystem.h"
#include "GridMarks.h"
#include "GridOrder.h"
#include "MetaTestUtil.h"
#include "fullscreen.h"
#include "view.h"

namespace {

const char *const LightroomSidecar = R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:crs="http://ns.adobe.com/camera-raw-settings/1.0/"
    xmp:Rating="1" crs:Exposure2012="+0.35" crs:Temperature="5400">
   <dc:subject><rdf:Bag><rdf:li>fjord</rdf:li></rdf:Bag></dc:subject>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)";

std::vector<std::string> Names(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (dirent *e = ::readdir(dir))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CullingTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        // The trash of the user's home is used for files on the home's file system.
        const char *home = std::getenv("HOME");
        FOldHome = home ? home : "";
        setenv("HOME", FHome->path().c_str(), 1);
        View = std::make_unique<TviewForm>();
        View->SetBrowser(Main.get());
        Full = std::make_unique<Tfullform>();
        Main->show();
        Main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
    }
    void TearDown() override {
        // The windows go first: a thread their last events start then ends within the base's
        // wait for every thread, instead of leaking after it.
        View.reset();
        Full.reset();
        BrowserTest::TearDown();
        setenv("HOME", FOldHome.c_str(), 1);
    }
    void WriteCr2(const std::string &name) {
        cr2::Cr2Options options;
        options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
        cr2::WriteCr2(Folder.file(name), options);
    }
    // Selects an entry in the grid with the focus on it, marks read.
    void FocusEntry(int index) {
        ASSERT_TRUE(testutil::WaitFor([this] { return !Main->MetaBusy(); }));
        Main->List()->SetItemIndex(index);
        Main->List()->setFocus();
        ASSERT_TRUE(
            testutil::WaitFor([this] { return QApplication::focusWidget() == Main->List(); }));
    }
    void OpenViewer() {
        QTest::keyClick(Main->List(), Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(View.get()));
        View->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(View.get()));
    }

    testutil::TempDir Folder;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;
    std::string FOldHome;
};

} // namespace

TEST_F(CullingTest, MarksByKeyInTheGridAndTheViewerReachTheSidecarsAndKeepTheirProperties) {
    WriteCr2("IMG_0001.CR2");
    testutil::WriteFile(Folder.file("photo.JPG"), cr2::EncodeJpeg(cr2::QuarterPicture(64, 48)));
    const std::string rawSidecar = Folder.file("IMG_0001.xmp");
    testutil::WriteFile(rawSidecar, LightroomSidecar);
    auto before = metatest::Exiv2Values("-px", rawSidecar);
    ASSERT_EQ(before.at("Xmp.dc.subject"), "fjord");
    ClickAndWait(Folder.path());
    ASSERT_EQ(Captions(), (std::vector<std::string>{"IMG_0001.CR2.JPG", "photo.JPG"}));
    ASSERT_TRUE(testutil::WaitFor([this] { return !Main->MetaBusy(); }));
    // The grid read the other program's rating.
    EXPECT_EQ(ItemMarks(Main->List()->item(0)), (TMarks{1, ""}));

    FocusEntry(0);
    QTest::keyClick(Main->List(), Qt::Key_3);
    QTest::keyClick(Main->List(), Qt::Key_6);
    EXPECT_EQ(ItemMarks(Main->List()->item(0)), (TMarks{3, "Red"}));
    // The cell shows the label's colour and the stars' gold; the unmarked one neither.
    const QImage grid = Main->List()->viewport()->grab().toImage();
    const double ratio = grid.devicePixelRatio();
    auto count = [&](int row, QColor color) {
        const QRect cell = Main->List()->visualItemRect(Main->List()->item(row));
        int n = 0;
        for (int y = int(cell.top() * ratio); y < int(cell.bottom() * ratio); ++y)
            for (int x = int(cell.left() * ratio); x < int(cell.right() * ratio); ++x)
                n += grid.pixelColor(x, y) == color;
        return n;
    };
    EXPECT_GT(count(0, LabelColor("Red")), 20);
    EXPECT_GT(count(0, QColor(0xb8, 0x86, 0x0b)), 20);
    // The label's dot first, the stars clear of it on its right.
    auto columns = [&](QColor color) {
        int first = grid.width(), last = -1;
        for (int y = 0; y < grid.height(); ++y)
            for (int x = 0; x < grid.width(); ++x)
                if (grid.pixelColor(x, y) == color) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return std::pair{first, last};
    };
    EXPECT_LT(columns(LabelColor("Red")).second, columns(QColor(0xb8, 0x86, 0x0b)).first);
    EXPECT_EQ(count(1, LabelColor("Red")) + count(1, QColor(0xb8, 0x86, 0x0b)), 0);

    FocusEntry(1);
    OpenViewer();
    QTest::keyClick(View.get(), Qt::Key_5);
    EXPECT_NE(View->Caption().find("\u2605\u2605\u2605\u2605\u2605"), std::string::npos)
        << View->Caption();
    // Stepping back shows the first entry's marks as read; a key marks it too.
    QTest::keyClick(View.get(), Qt::Key_Left);
    EXPECT_TRUE(testutil::WaitFor([this] {
        return View->Caption() == "Pixavant - IMG_0001.CR2.JPG  \u2605\u2605\u2605 Red";
    })) << View->Caption();
    QTest::keyClick(View.get(), Qt::Key_4);
    EXPECT_EQ(View->Caption(), "Pixavant - IMG_0001.CR2.JPG  \u2605\u2605\u2605\u2605 Red");

    auto after = metatest::Exiv2Values("-px", rawSidecar);
    EXPECT_EQ(after.at("Xmp.xmp.Rating"), "4");
    EXPECT_EQ(after.at("Xmp.xmp.Label"), "Red");
    for (auto *values : {&before, &after}) {
        values->erase("Xmp.xmp.Rating");
        values->erase("Xmp.xmp.Label");
    }
    EXPECT_EQ(after, before); // the keyword and every other property survive
    EXPECT_EQ(metatest::Exiv2Values("-px", Folder.file("photo.JPG.xmp")).at("Xmp.xmp.Rating"), "5");
    EXPECT_EQ(Names(Folder.path()),
              (std::vector<std::string>{"IMG_0001.CR2", "IMG_0001.CR2.JPG", "IMG_0001.xmp",
                                        "photo.JPG", "photo.JPG.xmp"}));
    EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

TEST_F(CullingTest, DeleteTakesTheRawItsThumbnailAndSidecarToTheTrashAndUndoBringsThemBack) {
    testutil::WriteFile(Folder.file("a.png"), "x");
    WriteCr2("IMG_0001.CR2");
    testutil::WriteFile(Folder.file("IMG_0001.xmp"), LightroomSidecar);
    testutil::WriteFile(Folder.file("z.png"), "x");
    ClickAndWait(Folder.path());
    const std::vector<std::string> listed = {"a.png", "IMG_0001.CR2.JPG", "z.png"};
    ASSERT_EQ(Captions(), listed);
    const std::vector<std::string> files = Names(Folder.path());

    FocusEntry(1);
    OpenViewer();
    QTest::keyClick(View.get(), Qt::Key_Delete);
    const std::string trash = FHome->file("XDG_DATA_HOME") + "/Trash";
    const std::vector<std::string> taken = {"IMG_0001.CR2", "IMG_0001.CR2.JPG", "IMG_0001.xmp"};
    EXPECT_EQ(Names(trash + "/files"), taken);
    EXPECT_EQ(Names(trash + "/info"),
              (std::vector<std::string>{"IMG_0001.CR2.JPG.trashinfo", "IMG_0001.CR2.trashinfo",
                                        "IMG_0001.xmp.trashinfo"}));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"a.png", "z.png"}));
    // The viewer went on to the next picture.
    EXPECT_EQ(Main->SelectedPicture(), Folder.file("z.png"));
    EXPECT_EQ(View->Caption(), "Pixavant - z.png");

    QTest::keyClick(View.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Names(Folder.path()), files);
    EXPECT_TRUE(Names(trash + "/files").empty());
    EXPECT_TRUE(Names(trash + "/info").empty());
    EXPECT_EQ(Captions(), listed);
    EXPECT_EQ(Main->SelectedPicture(), Folder.file("IMG_0001.CR2"));
    // The first entry deleted: its follower comes in its place.
    QTest::keyClick(View.get(), Qt::Key_Left);
    QTest::keyClick(View.get(), Qt::Key_Delete);
    EXPECT_EQ(Names(trash + "/files"), (std::vector<std::string>{"a.png"}));
    EXPECT_EQ(View->Caption(), "Pixavant - IMG_0001.CR2.JPG");
    EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

TEST_F(CullingTest, DeletingTheOnlyPictureClosesTheViewerWithNothingShown) {
    testutil::WriteFile(Folder.file("only.jpg"), cr2::EncodeJpeg(cr2::QuarterPicture(64, 48)));
    ClickAndWait(Folder.path());
    FocusEntry(0);
    OpenViewer();
    QTest::keyClick(View.get(), Qt::Key_Delete);
    EXPECT_TRUE(Captions().empty());
    EXPECT_FALSE(View->isVisible());
    EXPECT_EQ(View->RImage1->Picture().Graphic(), nullptr);
}

TEST_F(CullingTest, APairOfRawAndJpegIsOnePhotoToDeleteOnlyWhenChosenInTheMenu) {
    WriteCr2("IMG_0001.CR2");
    testutil::WriteFile(Folder.file("IMG_0001.JPG"), cr2::EncodeJpeg(cr2::QuarterPicture(64, 48)));
    testutil::WriteFile(Folder.file("z.png"), "x");
    ClickAndWait(Folder.path());
    const std::vector<std::string> listed = {"IMG_0001.CR2.JPG", "IMG_0001.JPG", "z.png"};
    ASSERT_EQ(Captions(), listed);
    const std::string trashed = FHome->file("XDG_DATA_HOME") + "/Trash/files";
    auto *pairs = Main->findChild<QAction *>("PairsAsOne");
    ASSERT_NE(pairs, nullptr);

    const struct {
        bool Pairs;
        int Entry;
        std::vector<std::string> Taken, Left;
    } rows[] = {
        {false, 1, {"IMG_0001.JPG"}, {"IMG_0001.CR2.JPG", "z.png"}},
        {true, 1, {"IMG_0001.CR2", "IMG_0001.CR2.JPG", "IMG_0001.JPG"}, {"z.png"}},
        {true, 0, {"IMG_0001.CR2", "IMG_0001.CR2.JPG", "IMG_0001.JPG"}, {"z.png"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Entry);
        pairs->setChecked(row.Pairs);
        FocusEntry(row.Entry);
        QTest::keyClick(Main->List(), Qt::Key_Delete);
        EXPECT_EQ(Names(trashed), row.Taken);
        EXPECT_EQ(Captions(), row.Left);
        QTest::keyClick(Main->List(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(Captions(), listed);
        EXPECT_EQ(Main->SelectedEntry(), row.Entry);
        // Each entry brought back has its place in the listing again.
        Main->SetSort(TSortKey::Name, true);
        EXPECT_EQ(Captions(), (std::vector<std::string>(listed.rbegin(), listed.rend())));
        Main->SetSort(TSortKey::Name, false);
    }
    EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

TEST(GridOrderTest, RawAndJpegOfOneNameArePartners) {
    const struct {
        std::vector<std::string> Pictures;
        int Partner; // of the first
    } rows[] = {
        {{"/a/IMG_1.CR2", "/a/IMG_1.JPG"}, 1},
        {{"/a/IMG_1.jpeg", "/a/x.png", "/a/IMG_1.nef"}, 2},
        {{"/a/IMG_1.JPG", "/a/IMG_1.jpeg"}, -1}, // two JPEGs
        {{"/a/IMG_1.CR2", "/a/IMG_1.NEF"}, -1},  // two RAW files
        {{"/a/IMG_1.CR2", "/a/IMG_10.JPG"}, -1},
        {{"/a/IMG_1.CR2", "/a/img_1.JPG"}, -1}, // names differ in case
        {{"/a/IMG_1.png", "/a/IMG_1.CR2"}, -1},
        {{"/a.b/IMG", "/a.b/IMG.JPG"}, -1}, // no extension
    };
    for (const auto &row : rows)
        EXPECT_EQ(PairPartner(row.Pictures, 0), row.Partner) << row.Pictures[1];
    for (const int outside : {-1, 2}) // no entry there, so no partner
        EXPECT_EQ(PairPartner(rows[0].Pictures, outside), -1) << outside;
}

TEST_F(CullingTest, TheFilterShowsTheEntriesRatedHighEnoughAndNextWrapsWithinThem) {
    const std::pair<const char *, int> ratings[] = {
        {"a", 1}, {"b", 3}, {"c", 5}, {"d", 0}, {"e", 4}};
    for (const auto &[name, rating] : ratings) {
        const std::string picture = Folder.file(std::string(name) + ".png");
        testutil::WriteFile(picture, "x");
        WriteMarks(picture, {rating, ""});
    }
    ClickAndWait(Folder.path());
    ASSERT_TRUE(testutil::WaitFor([this] { return !Main->MetaBusy(); }));
    Main->SetFilter({TGridFilter::AtLeast, 3});
    std::vector<std::string> shown;
    for (int i = 0; i < Main->EntryCount(); ++i)
        if (Main->EntryShown(i))
            shown.push_back(Main->EntryCaption(i));
    EXPECT_EQ(shown, (std::vector<std::string>{"b.png", "c.png", "e.png"}));
    EXPECT_FALSE(Main->EntryShown(Main->EntryCount()));

    FocusEntry(1);
    OpenViewer();
    std::vector<std::string> stepped;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(View.get(), Qt::Key_Space);
        stepped.push_back(ExtractFileName(Main->SelectedPicture()));
    }
    EXPECT_EQ(stepped, (std::vector<std::string>{"c.png", "e.png", "b.png"}));

    // The sort keys are one choice: taking one unticks the other.
    const auto action = [&](const char *text) {
        for (QAction *a : Main->findChildren<QAction *>())
            if (a->text() == QString::fromUtf8(text))
                return a;
        return static_cast<QAction *>(nullptr);
    };
    ASSERT_TRUE(action("&Name") && action("&Rating"));
    action("&Rating")->trigger();
    EXPECT_TRUE(action("&Rating")->isChecked());
    EXPECT_FALSE(action("&Name")->isChecked());

    // Sorted by rating, best first: the filter still holds, Next follows the new order.
    Main->SetSort(TSortKey::Rating, true);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"c.png", "e.png", "b.png", "a.png", "d.png"}));
    EXPECT_EQ(Main->List()->ItemIndex(), 2); // b.png stays selected where it went
    QTest::keyClick(View.get(), Qt::Key_Space);
    EXPECT_EQ(ExtractFileName(Main->SelectedPicture()), "c.png");
}

TEST_F(CullingTest, SortedByDateTakenTheShotsFollowTheirCamerasDates) {
    // Names in one order, the cameras' dates in another: 2006, 2003, 2004.
    const std::pair<const char *, const char *> shots[] = {
        {"a.jpg", "exiv2_exiv2-canon-eos-20d.jpg"},
        {"b.jpg", "exiv2_exiv2-canon-eos-300d.jpg"},
        {"c.jpg", "exiv2_exiv2-nikon-d70.jpg"}};
    for (const auto &[name, sample] : shots)
        testutil::WriteFile(Folder.file(name),
                            testutil::ReadFile(std::string(PIXAVANT_SAMPLES) + "/jpg/" + sample));
    ClickAndWait(Folder.path());
    Main->SetSort(TSortKey::DateTaken, false);
    const std::vector<std::string> byDate{"b.jpg", "c.jpg", "a.jpg"};
    EXPECT_TRUE(testutil::WaitFor([&] { return Captions() == byDate; }));
}

TEST_F(CullingTest, SortedByModificationTimeTheNanosecondsCount) {
    // Both in the same second: b 100 ns into it, a 500 ns.
    for (const auto &[name, ns] : {std::pair{"a.png", 500L}, std::pair{"b.png", 100L}}) {
        testutil::WriteFile(Folder.file(name), "x");
        const timespec times[2] = {{1'000'000'000, ns}, {1'000'000'000, ns}};
        ASSERT_EQ(::utimensat(AT_FDCWD, Folder.file(name).c_str(), times, 0), 0);
    }
    ClickAndWait(Folder.path());
    Main->SetSort(TSortKey::Modified, false);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"b.png", "a.png"}));
}

TEST(GridOrderTest, TheFilterByMarks) {
    const struct {
        TGridFilter Filter;
        int Rating;
        bool Shown;
    } rows[] = {
        {{}, -1, true},
        {{TGridFilter::AtLeast, 3}, 3, true},
        {{TGridFilter::AtLeast, 3}, 2, false},
        {{TGridFilter::AtLeast, 1}, -1, false},
        {{TGridFilter::Picks}, 1, true},
        {{TGridFilter::Picks}, 0, false},
        {{TGridFilter::Picks}, -1, false},
        {{TGridFilter::Rejects}, -1, true},
        {{TGridFilter::Rejects}, 0, false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(FilterPasses(row.Filter, {row.Rating, "Red"}), row.Shown)
            << int(row.Filter.Kind) << " " << row.Filter.Stars << " " << row.Rating;
}

TEST(GridOrderTest, EqualKeysKeepTheListingOrderInBothDirections) {
    // Listing order 0-3; two shot in the same second, two of the same size.
    std::vector<TSortFacts> facts(4);
    const char *dates[] = {"2024:05:01 10:00:02", "2024:05:01 10:00:01", "2024:05:01 10:00:01",
                           "2023:12:31 23:59:59"};
    const long long sizes[] = {300, 100, 300, 200};
    for (int i = 0; i < 4; ++i) {
        facts[std::size_t(i)].NameOrder = i;
        facts[std::size_t(i)].DateTaken = dates[i];
        facts[std::size_t(i)].Size = sizes[i];
    }
    EXPECT_EQ(SortedOrder(facts, TSortKey::DateTaken, false), (std::vector<int>{3, 1, 2, 0}));
    EXPECT_EQ(SortedOrder(facts, TSortKey::DateTaken, true), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(SortedOrder(facts, TSortKey::Size, true), (std::vector<int>{0, 2, 3, 1}));
    EXPECT_EQ(SortedOrder(facts, TSortKey::Name, true), (std::vector<int>{3, 2, 1, 0}));
}

TEST_F(CullingTest, ITogglesTheShootingInformationInBothWindows) {
    const std::string photo = Folder.file("photo.jpg");
    testutil::WriteFile(photo, cr2::EncodeJpeg(cr2::QuarterPicture(64, 48)));
    const std::string command = "exiv2 -q -M'set Exif.Image.Model Ascii Test Camera 7' "
                                "-M'set Exif.Photo.FNumber Rational 56/10' '" +
                                photo + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ClickAndWait(Folder.path());
    FocusEntry(0);
    QTest::keyClick(Main->List(), Qt::Key_I);
    ASSERT_TRUE(testutil::WaitFor([this] {
        return Main->CurrentFileText().contains("Test Camera 7") &&
               Main->CurrentFileText().contains("F5.6");
    })) << Main->CurrentFileText().toStdString();

    OpenViewer();
    ASSERT_TRUE(
        testutil::WaitFor([this] { return View->InfoPanel()->text().contains("Aperture: F5.6"); }));
    EXPECT_TRUE(View->InfoPanel()->isVisible());
    EXPECT_EQ(View->InfoPanel()->pos(), QPoint(0, 0)); // over the picture's corner
    QTest::keyClick(View.get(), Qt::Key_I);
    EXPECT_FALSE(View->InfoPanel()->isVisible());
    EXPECT_FALSE(Main->ShootingInfoShown());
    // Shown again, it says so until the file has been read.
    QTest::keyClick(View.get(), Qt::Key_I);
    EXPECT_TRUE(View->InfoPanel()->isVisible());
    EXPECT_EQ(View->InfoPanel()->text(), "Reading...");
    EXPECT_EQ(View->InfoPanel()->size(), View->InfoPanel()->sizeHint()); // not the last text's
    EXPECT_TRUE(
        testutil::WaitFor([this] { return View->InfoPanel()->text().contains("Aperture: F5.6"); }));
}
