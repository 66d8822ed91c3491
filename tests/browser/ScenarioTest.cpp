// The browser and the viewer as a user drives them: clicks in the folder tree, entries opened
// and stepped through, on real files whose names need not be UTF-8.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTest>

#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "FolderTreeModel.h"
#include "main.h"
#include "view.h"

namespace {

void WriteCr2(const std::string &path) {
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
    cr2::WriteCr2(path, options);
}

// RAW files whose previews take the workers a while, so that a pass can be caught running.
void WriteSlowCr2s(const std::string &folder, int count) {
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(2400, 1600));
    for (int i = 0; i < count; ++i)
        cr2::WriteCr2(folder + "/IMG_" + std::to_string(1000 + i) + ".CR2", options);
}

void WriteJpeg(const std::string &path) {
    testutil::WriteFile(path, cr2::EncodeJpeg(cr2::QuarterPicture(64, 48)));
}

int CountThumbnails(const std::string &folder) {
    int count = 0;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (dirent *e = ::readdir(dir)) {
            const std::string name = e->d_name;
            count += name.size() > 8 && name.compare(name.size() - 8, 8, ".CR2.JPG") == 0;
        }
        ::closedir(dir);
    }
    return count;
}

class ScenarioTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        View = std::make_unique<TviewForm>();
        View->SetBrowser(Main.get());
        Main->show();
    }
    void TearDown() override {
        View.reset();
        BrowserTest::TearDown();
    }

    std::string TreeFolder() const {
        return Main->TreeModel()->PathOf(Main->Tree()->currentIndex());
    }

    std::unique_ptr<TviewForm> View;
};

TEST_F(ScenarioTest, NamesThatAreNotUtf8AreListedOpenedAndSteppedThrough) {
    testutil::TempDir root;
    const std::string folder = root.file("caf\xe9");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    WriteJpeg(folder + "/caf\xe9.jpg");
    WriteCr2(folder + "/b\xe9.CR2");

    // The folder is a row of the tree under its exact name.
    const QModelIndex parent = Main->TreeModel()->IndexOf(root.path());
    Main->TreeModel()->fetchMore(parent); // as expanding it in the tree does
    bool found = false;
    for (int row = 0; row < Main->TreeModel()->rowCount(parent); ++row)
        found |= Main->TreeModel()->PathOf(Main->TreeModel()->index(row, 0, parent)) == folder;
    EXPECT_TRUE(found);

    ClickAndWait(folder);
    EXPECT_EQ(Main->SelFolder(), folder);
    ASSERT_EQ(Captions(), (std::vector<std::string>{"b\xe9.CR2.JPG", "caf\xe9.jpg"}));

    Main->List()->SetItemIndex(1);
    EXPECT_EQ(Main->SelectedPicture(), folder + "/caf\xe9.jpg");
    Main->ListViewDblClick();
    ASSERT_TRUE(testutil::WaitFor([&] { return View->Memo1->toPlainText() != "Extracting..."; }));
    ASSERT_NE(View->RImage1->Picture().Graphic(), nullptr);
    EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TBitmap");

    // Next wraps to the RAW file's entry and opens the RAW file itself.
    View->Button2Click();
    EXPECT_EQ(Main->SelectedPicture(), folder + "/b\xe9.CR2");
    EXPECT_EQ(View->Memo1->toPlainText(), "Ready");
    EXPECT_STREQ(View->RImage1->Picture().Graphic()->ClassName(), "TJPEGImage");
    EXPECT_TRUE(Boxes.empty()) << (Boxes.empty() ? "" : Boxes[0]);
}

TEST_F(ScenarioTest, TheGridAndNextFollowTheUpperCasedNameOrder) {
    testutil::TempDir dir;
    for (const char *name : {"IMG_0003.png", "IMG_0007.png", "img_0006.png", "IMG_0001.png"})
        testutil::WriteFile(dir.file(name), "x");
    WriteCr2(dir.file("IMG_0002.CR2"));
    ClickAndWait(dir.path());
    const std::vector<std::string> order = {"IMG_0001.png", "IMG_0002.CR2.JPG", "IMG_0003.png",
                                            "img_0006.png", "IMG_0007.png"};
    ASSERT_EQ(Captions(), order);

    Main->List()->SetItemIndex(3);
    Main->ListViewDblClick();
    View->Button2Click();
    EXPECT_EQ(Main->List()->Caption(Main->List()->ItemIndex()), "IMG_0007.png");
    View->Button3Click();
    View->Button3Click();
    EXPECT_EQ(Main->List()->Caption(Main->List()->ItemIndex()), "IMG_0003.png");
}

TEST_F(ScenarioTest, AClickDuringTheRawPassSupersedesItAndTheTreeShowsTheListedFolder) {
    testutil::TempDir a, b;
    const int raws = 40;
    WriteSlowCr2s(a.path(), raws);
    testutil::WriteFile(b.file("b.png"), "x");

    ClickFolder(a.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return CountThumbnails(a.path()) >= 1; }));
    ClickFolder(b.path());
    // The tree shows the click at once, not after A's pass.
    EXPECT_EQ(TreeFolder(), b.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle() && Main->SelFolder() == b.path(); }));
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle() && Captions().size() == 1; }));
    EXPECT_EQ(Captions(), std::vector<std::string>{"b.png"});
    EXPECT_EQ(TreeFolder(), b.path());
    // A's pass ended after the files its workers were converting.
    EXPECT_LT(CountThumbnails(a.path()), raws);
    EXPECT_EQ(Main->ScanCount(), 2);
}

TEST_F(ScenarioTest, RefreshDuringTheRawPassSupersedesItToo) {
    testutil::TempDir a;
    const int raws = 40;
    WriteSlowCr2s(a.path(), raws);
    ClickFolder(a.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return CountThumbnails(a.path()) >= 1; }));
    Main->findChild<QPushButton *>("BtnRefresh")
        ->click(); // hidden, but wired as the user's Refresh
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() == 2; }));
    // The first pass was cut short when the second began.
    EXPECT_LT(CountThumbnails(a.path()), raws);
    ASSERT_TRUE(testutil::WaitFor([&] { return Idle(); }));
    EXPECT_EQ(Main->ScanCount(), 2);
    EXPECT_EQ(Captions().size(), std::size_t(raws));
}

TEST_F(ScenarioTest, ADamagedRawFilePopsItsBoxOnceAndLaterVisitsOnlySayHowManyFailed) {
    testutil::TempDir damaged, other;
    testutil::WriteFile(damaged.file("broken.CR2"), "this is no RAW file");
    WriteCr2(damaged.file("good.CR2"));
    testutil::WriteFile(other.file("o.png"), "x");

    ClickAndWait(damaged.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return !Boxes.empty(); }));
    EXPECT_NE(Boxes[0].find("broken.CR2"), std::string::npos);

    ClickAndWait(other.path());
    ClickAndWait(damaged.path());
    QCoreApplication::processEvents();
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Main->CurrentFileText(), " 1 RAW file got no new thumbnail");

    // A new set of failing files is news again.
    testutil::WriteFile(damaged.file("worse.CR2"), "nor is this");
    ClickAndWait(other.path());
    EXPECT_EQ(Main->CurrentFileText(), " ");
    ClickAndWait(damaged.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return Boxes.size() == 2; }));
    EXPECT_NE(Boxes[1].find("worse.CR2"), std::string::npos);
}

TEST_F(ScenarioTest, AReadOnlyFolderIsOneFailureLine) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders; run as a user to check this";
    testutil::TempDir card;
    for (const char *name : {"IMG_0001.CR2", "IMG_0002.CR2", "IMG_0003.CR2"})
        WriteCr2(card.file(name));
    ::chmod(card.path().c_str(), 0555);
    ClickAndWait(card.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return !Boxes.empty(); }));
    ::chmod(card.path().c_str(), 0755);
    EXPECT_NE(Boxes[0].find("read-only"), std::string::npos);
    EXPECT_EQ(Boxes[0].find("IMG_0001.CR2"), std::string::npos);
}

TEST_F(ScenarioTest, ANewScanLeavesThePicturePathAndCaptionAlone) {
    testutil::TempDir a, b;
    testutil::WriteFile(a.file("a.png"), "x");
    testutil::WriteFile(b.file("b.png"), "x");
    ClickAndWait(a.path());
    Main->List()->SetItemIndex(0);
    ClickAndWait(b.path());
    EXPECT_EQ(Main->SelectedPicture(), a.file("a.png"));
    EXPECT_EQ(Main->SelectedText().toStdString(), a.file("a.png"));
    EXPECT_EQ(Main->Caption(), "Pixavant - a.png");
}

TEST_F(ScenarioTest, TheTreeIsSetUpAndBringsTheStartFolderIntoView) {
    EXPECT_FALSE(Main->Tree()->rootIsDecorated());
    EXPECT_TRUE(Main->Tree()->isExpanded(Main->TreeModel()->index(0, 0)));
    testutil::TempDir root;
    std::string deep = root.path();
    for (int i = 0; i < 12; ++i)
        deep += "/level" + std::to_string(i);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep)));
    Main->SetSelFolder(deep);
    Main->OpenStartFolder();
    const bool shown = testutil::WaitFor([&] {
        const QModelIndex current = Main->Tree()->currentIndex();
        const QRect row = Main->Tree()->visualRect(current);
        return TreeFolder() == deep && row.top() >= 0 &&
               row.bottom() < Main->Tree()->viewport()->height();
    });
    ASSERT_TRUE(shown) << TreeFolder();

    // No automatic refresh: a folder made later shows only in a new tree.
    const QModelIndex index = Main->TreeModel()->IndexOf(deep);
    Main->Tree()->expand(index);
    QCoreApplication::processEvents();
    const int rows = Main->TreeModel()->rowCount(index);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep + "/later")));
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->TreeModel()->rowCount(index), rows);
}

TEST_F(ScenarioTest, ClosingTheWindowDuringARunLeavesNothingToReachIt) {
    testutil::TempDir dir;
    for (int i = 0; i < 40; ++i)
        testutil::WriteFile(dir.file("f" + std::to_string(i) + ".png"), "x");
    ClickFolder(dir.path());
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->Extractor() != nullptr; }));
    View.reset();
    Main.reset(); // its extractor reads the list until it ends
    MainForm = nullptr;
    // Whatever the extractor posted is dropped with the window.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    SUCCEED();
}

} // namespace
