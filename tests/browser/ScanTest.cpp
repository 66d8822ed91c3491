// Folder scans on real folders: what is listed, RAW files turned into thumbnail files, and the
// restart and stop logic while an extractor runs.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <set>
#include <sys/stat.h>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "main.h"

namespace {

std::set<std::string> AsSet(const std::vector<std::string> &v) {
    return {v.begin(), v.end()};
}

void WriteCr2(const std::string &path) {
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
    cr2::WriteCr2(path, options);
}

} // namespace

TEST_F(BrowserTest, EmptyFolderIsReadyAtOnceWithoutExtractor) {
    testutil::TempDir dir;
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    EXPECT_EQ(Main->Extractor(), nullptr);
    EXPECT_EQ(Status(), " Ready");
    EXPECT_EQ(Main->List()->Count(), 0);
    EXPECT_FALSE(Main->StopEnabled());
    EXPECT_EQ(Main->List()->UpdateCount(), 0);
}

TEST_F(BrowserTest, FilesWithoutListedExtensionStillRunAnExtractorOverAnEmptyList) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("notes.txt"), "x");
    testutil::WriteFile(dir.file("photo.jpeg"), "x");
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    EXPECT_NE(Main->Extractor(), nullptr);
    EXPECT_EQ(Main->ProgressMax(), 0);
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    EXPECT_EQ(Main->List()->Count(), 0);
    EXPECT_EQ(Main->List()->UpdateCount(), 0);
}

TEST_F(BrowserTest, MixedFolderListsPicturesByExtensionOnly) {
    testutil::TempDir dir;
    for (const char *name : {"photo.TIFF", "photo.tif", "photo.jpeg", ".hidden.png", "a.GIF",
                             "b.bmp", "c.wmf", "d.JPG", "e.txt"})
        testutil::WriteFile(dir.file(name), "not really a picture");
    ::mkdir(dir.file("sub.jpg").c_str(), 0755);
    ::mkfifo(dir.file("pipe.jpg").c_str(), 0644);
    ScanAndWait(dir.path());
    EXPECT_EQ(AsSet(Captions()), (std::set<std::string>{"photo.TIFF", "photo.tif", ".hidden.png",
                                                        "a.GIF", "b.bmp", "c.wmf", "d.JPG"}));
    // Every item got its file-type icon even though no thumbnail could be made.
    for (int i = 0; i < Main->List()->Count(); ++i)
        EXPECT_GE(Main->List()->ImageIndex(i), 0) << Main->List()->Caption(i);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(BrowserTest, RawFilesAreListedThroughTheirThumbnailFiles) {
    testutil::TempDir dir;
    WriteCr2(dir.file("IMG_0001.CR2"));
    WriteCr2(dir.file("img_0002.cr2"));
    testutil::WriteFile(dir.file("other.png"), "x");
    ScanAndWait(dir.path());
    EXPECT_TRUE(testutil::FileExists(dir.file("IMG_0001.CR2.JPG")));
    EXPECT_TRUE(testutil::FileExists(dir.file("img_0002.cr2.JPG")));
    EXPECT_EQ(AsSet(Captions()),
              (std::set<std::string>{"IMG_0001.CR2.JPG", "img_0002.cr2.JPG", "other.png"}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(BrowserTest, BadRawFileDoesNotKeepTheFolderFromBeingListed) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("broken.CR2"), "this is no RAW file");
    WriteCr2(dir.file("good.CR2"));
    testutil::WriteFile(dir.file("broken.CR2.JPG"), "an older thumbnail, kept as it is");
    testutil::WriteFile(dir.file("photo.png"), "x");
    ScanAndWait(dir.path());
    ASSERT_TRUE(testutil::WaitFor([this] { return !Boxes.empty(); }));
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].find("broken.CR2"), std::string::npos);
    EXPECT_EQ(Boxes[0].find("good.CR2"), std::string::npos);
    EXPECT_EQ(AsSet(Captions()),
              (std::set<std::string>{"broken.CR2.JPG", "good.CR2.JPG", "photo.png"}));
    const auto kept = testutil::ReadFile(dir.file("broken.CR2.JPG"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an older thumbnail, kept as it is");
}

TEST_F(BrowserTest, RefreshDuringARunRescansOnceWithoutASecondExtractor) {
    testutil::TempDir dir;
    for (int i = 0; i < 25; ++i)
        testutil::WriteFile(dir.file("f" + std::to_string(i) + ".png"), "x");
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    ASSERT_NE(Main->Extractor(), nullptr);
    const auto *first = Main->Extractor();
    Main->BtnRefreshClick();
    Main->BtnRefreshClick();
    EXPECT_EQ(Main->Extractor(), first); // no second extractor while the first runs
    EXPECT_TRUE(Main->RestartPending());
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle() && Main->ScanCount() == 2; }));
    // A restart is only ever queued when a run ends; with nothing left queued, none follows.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Main->Scan().State(), TScanState::Idle);
    EXPECT_EQ(Main->ScanCount(), 2);
    EXPECT_EQ(Main->List()->Count(), 25);
}

TEST_F(BrowserTest, SeveralFolderChangesDuringARunLeaveOneRestartForTheLast) {
    testutil::TempDir a, b, c;
    for (int i = 0; i < 25; ++i)
        testutil::WriteFile(a.file("a" + std::to_string(i) + ".png"), "x");
    testutil::WriteFile(b.file("b.png"), "x");
    testutil::WriteFile(c.file("c1.png"), "x");
    testutil::WriteFile(c.file("c2.gif"), "x");
    Main->SetSelFolder(a.path());
    Main->BtnRefreshClick();
    Main->SetSelFolder(b.path());
    Main->BtnRefreshClick();
    Main->SetSelFolder(c.path());
    Main->BtnRefreshClick();
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle() && Main->ScanCount() == 2; }));
    EXPECT_EQ(AsSet(Captions()), (std::set<std::string>{"c1.png", "c2.gif"}));
}

TEST_F(BrowserTest, StopDuringTheIconPassEndsWithIconsShownAndReady) {
    testutil::TempDir dir;
    for (int i = 0; i < 40; ++i)
        testutil::WriteFile(dir.file("f" + std::to_string(i) + ".png"), "x");
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    Main->BtnStopClick();
    EXPECT_EQ(Status(), " Aborting. Please wait...");
    EXPECT_FALSE(Main->StopEnabled());
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    EXPECT_EQ(Main->List()->UpdateCount(), 0); // the list repaints again
    EXPECT_EQ(Main->ProgressPosition(), 0);
    EXPECT_FALSE(Main->ThumbnailPass() && Main->List()->ImageIndex(39) >= 0);
}

TEST_F(BrowserTest, StopDuringTheThumbnailPassKeepsWhatItemsHave) {
    testutil::TempDir dir;
    for (int i = 0; i < 30; ++i)
        testutil::WriteFile(dir.file("f" + std::to_string(i) + ".png"), "x");
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    ASSERT_TRUE(testutil::WaitFor([this] { return Main->ThumbnailPass(); }));
    Main->BtnStopClick();
    EXPECT_EQ(Status(), " Aborting. Please wait...");
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    for (int i = 0; i < 30; ++i)
        EXPECT_GE(Main->List()->ImageIndex(i), 0);
}

TEST_F(BrowserTest, StopWithNoRunOnlyDisablesTheButton) {
    Main->findChild<QPushButton *>("BtnStop")->setEnabled(true);
    Main->BtnStopClick();
    EXPECT_FALSE(Main->StopEnabled());
    EXPECT_TRUE(Main->StatusText().isEmpty());
}

TEST_F(BrowserTest, FolderChangeDuringTheRawPassBecomesOneRestartNotANestedScan) {
    testutil::TempDir a, b;
    WriteCr2(a.file("one.CR2"));
    WriteCr2(a.file("two.CR2"));
    testutil::WriteFile(b.file("b.png"), "x");
    Main->SetSelFolder(a.path());
    Main->BtnRefreshClick();
    EXPECT_EQ(Main->Scan().State(), TScanState::RawPass);
    // Arrives between two files of the pass.
    Main->SetSelFolder(b.path());
    Main->BtnRefreshClick();
    EXPECT_EQ(Main->ScanCount(), 1);
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle() && Main->ScanCount() == 2; }));
    // Nothing else is queued: no restart can follow.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Main->Scan().State(), TScanState::Idle);
    EXPECT_EQ(Main->ScanCount(), 2);
    EXPECT_EQ(AsSet(Captions()), (std::set<std::string>{"b.png"}));
}
