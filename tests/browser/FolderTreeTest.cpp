// The folder tree: only the user's own clicks, keys and typing choose a folder to scan. A folder
// deleted or renamed outside while it is shown empties the list and says so, and no folder the
// user did not choose is scanned or gets thumbnail files written into it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QInputMethodEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <dirent.h>
#include <set>
#include <sys/stat.h>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "FileSystem.h"
#include "FolderTreeModel.h"
#include "main.h"

namespace {

const char *const GoneStatus = " Folder no longer exists";

std::set<std::string> Thumbnails(const std::string &folder) {
    std::set<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (dirent *e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 8 && name.compare(name.size() - 8, 8, ".CR2.JPG") == 0)
                names.insert(name);
        }
        ::closedir(dir);
    }
    return names;
}

bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void RemoveTree(const std::string &path) {
    QDir(QString::fromStdString(path)).removeRecursively();
}

class FolderTreeTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        Main->show();
        Siblings(Root.path());
    }

    // Three sibling folders A, B and C in parent, each with one RAW file of its own.
    static void Siblings(const std::string &parent) {
        for (const char *name : {"A", "B", "C"}) {
            const std::string folder = parent + "/" + name;
            ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
            cr2::Cr2Options options;
            options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
            cr2::WriteCr2(folder + "/" + name + ".CR2", options);
        }
    }

    // The names of the folders the tree lists under parent.
    std::set<std::string> TreeRows(const std::string &folder) const {
        std::set<std::string> rows;
        const QModelIndex parent = Main->TreeModel()->IndexOf(folder);
        if (Main->TreeModel()->canFetchMore(parent))
            Main->TreeModel()->fetchMore(parent); // as expanding it does
        for (int row = 0; row < Main->TreeModel()->rowCount(parent); ++row)
            rows.insert(ExtractFileName(
                Main->TreeModel()->PathOf(Main->TreeModel()->index(row, 0, parent))));
        return rows;
    }

    // Lets whatever the change queued run: a scan it started would have begun by then.
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    testutil::TempDir Root;
};

TEST_F(FolderTreeTest, AShownFolderDeletedOrRenamedOutsideEmptiesTheListAndScansNoNeighbour) {
    enum class Change { Deleted, Renamed, ParentRenamed };
    struct Row {
        const char *what;
        Change change;
        // The folders left where the siblings were, and where the siblings are now.
        std::set<std::string> rowsLeft;
        const char *siblingsIn;
    } rows[] = {
        {"deleted", Change::Deleted, {"A", "C"}, "deleted"},
        {"renamed", Change::Renamed, {"A", "B2", "C"}, "renamed"},
        {"parent", Change::ParentRenamed, {"A", "B", "C"}, "parent2"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::string parent = Root.file(row.what);
        ASSERT_EQ(::mkdir(parent.c_str(), 0755), 0);
        Siblings(parent);
        const std::string b = parent + "/B";
        const std::string now = Root.file(row.siblingsIn);
        const std::string a = now + "/A", c = now + "/C";
        ClickAndWait(b);
        ASSERT_EQ(Captions(), std::vector<std::string>{"B.CR2.JPG"});
        const int scans = Main->ScanCount();

        switch (row.change) {
        case Change::Deleted:
            RemoveTree(b);
            break;
        case Change::Renamed:
            ASSERT_EQ(std::rename(b.c_str(), (parent + "/B2").c_str()), 0);
            break;
        case Change::ParentRenamed:
            ASSERT_EQ(std::rename(parent.c_str(), now.c_str()), 0);
            break;
        }
        ASSERT_TRUE(testutil::WaitFor([&] { return Status() == GoneStatus; })) << Status();
        Settle();

        EXPECT_EQ(Main->ScanCount(), scans);
        EXPECT_EQ(Main->List()->Count(), 0);
        EXPECT_EQ(Status(), GoneStatus);
        EXPECT_EQ(Main->CurrentFileText().toStdString(), " " + b);
        // The field keeps the folder the user chose; the tree drops it and marks no other.
        EXPECT_EQ(Main->SelFolder(), b);
        EXPECT_FALSE(Main->Tree()->currentIndex().isValid());
        EXPECT_FALSE(Exists(b));
        EXPECT_TRUE(Thumbnails(a).empty());
        EXPECT_TRUE(Thumbnails(c).empty());
        EXPECT_EQ(TreeRows(now), row.rowsLeft);

        // The user's click on the neighbour the tree would have moved to scans it.
        ClickAndWait(c);
        EXPECT_EQ(Captions(), std::vector<std::string>{"C.CR2.JPG"});
        EXPECT_EQ(Thumbnails(c), std::set<std::string>{"C.CR2.JPG"});
        EXPECT_TRUE(Thumbnails(a).empty());
    }
}

TEST_F(FolderTreeTest, TheTreeMovingItsCurrentRowByItselfStartsNoScan) {
    ClickAndWait(Root.file("B"));
    const int scans = Main->ScanCount();
    // Before the window's watch reports B gone, the tree reads its folders again with no user
    // action: the current row goes, and the view moves to the neighbour by itself.
    RemoveTree(Root.file("B"));
    Main->TreeModel()->Refresh(Root.file("B"));
    // A new folder joins where it sorts; that moves rows too.
    ASSERT_EQ(::mkdir(Root.file("0").c_str(), 0755), 0);
    Main->TreeModel()->Refresh(Root.file("0"));
    Settle();
    EXPECT_EQ(TreeRows(Root.path()), (std::set<std::string>{"0", "A", "C"}));
    EXPECT_EQ(Main->ScanCount(), scans);
    EXPECT_TRUE(Thumbnails(Root.file("A")).empty());
    EXPECT_TRUE(Thumbnails(Root.file("C")).empty());
    EXPECT_EQ(Main->SelFolder(), Root.file("B"));
}

TEST_F(FolderTreeTest, AFolderGoingWhileTheUserExpandsAnotherStartsNoScan) {
    // B shown; C has a subfolder, so the tree offers to expand it.
    ASSERT_EQ(::mkdir(Root.file("C/sub").c_str(), 0755), 0);
    ClickAndWait(Root.file("B"));
    const int scans = Main->ScanCount();
    // The user's click on C's expand button; inside it the tree reads its folders again and B
    // is gone by then. The view moves off B during the user's own click, yet nobody chose C.
    QObject::connect(Main->Tree(), &QTreeView::expanded, Main.get(), [this] {
        RemoveTree(Root.file("B"));
        Main->TreeModel()->Refresh(Root.file("B"));
    });
    const QModelIndex c = Main->TreeModel()->IndexOf(Root.file("C"));
    Main->Tree()->scrollTo(c);
    QCoreApplication::processEvents();
    const QRect rect = Main->Tree()->visualRect(c);
    ASSERT_TRUE(Main->Tree()->viewport()->rect().contains(rect));
    QTest::mouseClick(Main->Tree()->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - Main->Tree()->indentation() / 2, rect.center().y()));
    ASSERT_TRUE(Main->Tree()->isExpanded(Main->TreeModel()->IndexOf(Root.file("C"))));
    Settle();
    EXPECT_EQ(Main->ScanCount(), scans);
    EXPECT_TRUE(Thumbnails(Root.file("A")).empty());
    EXPECT_TRUE(Thumbnails(Root.file("C")).empty());
}

TEST_F(FolderTreeTest, UserKeysInTheTreeStillScan) {
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    Main->Tree()->setFocus();
    QTest::keyClick(Main->Tree(), Qt::Key_Down);
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    EXPECT_EQ(Main->SelFolder(), Root.file("B"));
    EXPECT_EQ(Thumbnails(Root.file("B")), std::set<std::string>{"B.CR2.JPG"});
}

TEST_F(FolderTreeTest, ArrowingPastFoldersWritesNothingIntoThem) {
    ASSERT_EQ(::mkdir(Root.file("D").c_str(), 0755), 0);
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
    cr2::WriteCr2(Root.file("D/D.CR2"), options);
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    Main->Tree()->setFocus();
    // A user's pace through the tree: three presses a tenth of a second apart.
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(Main->Tree(), Qt::Key_Down);
        QTest::qWait(100);
    }
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    EXPECT_EQ(Main->ScanCount(), scans + 1);
    EXPECT_EQ(Main->SelFolder(), Root.file("D"));
    EXPECT_TRUE(Thumbnails(Root.file("B")).empty());
    EXPECT_TRUE(Thumbnails(Root.file("C")).empty());
    EXPECT_EQ(Thumbnails(Root.file("D")), std::set<std::string>{"D.CR2.JPG"});

    // Return takes the folder reached at once.
    QTest::keyClick(Main->Tree(), Qt::Key_Up);
    QTest::keyClick(Main->Tree(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
    // No other key does: the rest still runs.
    QTest::keyClick(Main->Tree(), Qt::Key_Down);
    QTest::keyClick(Main->Tree(), Qt::Key_Shift);
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
}

TEST_F(FolderTreeTest, TextTypedThroughAnInputMethodFindsAndScansTheFolder) {
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    // Text composed in an input method (accents, other scripts) arrives committed, not as keys.
    QInputMethodEvent typed;
    typed.setCommitString(QStringLiteral("C"));
    QCoreApplication::sendEvent(Main->Tree(), &typed);
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
    EXPECT_EQ(Thumbnails(Root.file("C")), std::set<std::string>{"C.CR2.JPG"});
}

TEST_F(FolderTreeTest, DraggingTheMouseOntoAFolderScansIt) {
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    auto centre = [this](const char *name) {
        return Main->Tree()->visualRect(Main->TreeModel()->IndexOf(Root.file(name))).center();
    };
    QWidget *viewport = Main->Tree()->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, centre("A"));
    QTest::mouseMove(viewport, centre("C"));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre("C"));
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
}

TEST_F(FolderTreeTest, TheBrowseButtonStartsAtTheFolderShownAndScansTheOneChosen) {
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    std::string asked;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.BrowseForFolder = [&](const std::string &, const std::string &preselected) {
            asked = preselected;
            return Root.file("B");
        };
    });
    Main->findChild<QPushButton *>("BtnBrowse")->click();
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    EXPECT_EQ(asked, Root.file("A"));
    EXPECT_EQ(Main->SelFolder(), Root.file("B"));
}

TEST_F(FolderTreeTest, DoubleClickingAFolderOpensItAndScansItOnce) {
    ASSERT_EQ(::mkdir(Root.file("C/sub").c_str(), 0755), 0);
    const QModelIndex c = Main->TreeModel()->IndexOf(Root.file("C"));
    Main->Tree()->scrollTo(c);
    QCoreApplication::processEvents();
    const QPoint centre = Main->Tree()->visualRect(c).center();
    const int scans = Main->ScanCount();
    // As a real double click arrives: a click, then the second press as a double click.
    QTest::mouseClick(Main->Tree()->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(Main->Tree()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_TRUE(Main->Tree()->isExpanded(Main->TreeModel()->IndexOf(Root.file("C"))));
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    Settle();
    EXPECT_EQ(Main->ScanCount(), scans + 1);
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
}

TEST_F(FolderTreeTest, TheTreeHasNoHeaderAndIndentsEachLevelBy19) {
    ASSERT_EQ(::mkdir(Root.file("C/sub").c_str(), 0755), 0);
    const QModelIndex c = Main->TreeModel()->IndexOf(Root.file("C"));
    Main->Tree()->expand(c);
    const QModelIndex sub = Main->TreeModel()->IndexOf(Root.file("C/sub"));
    ASSERT_TRUE(sub.isValid());
    Main->Tree()->scrollTo(sub);
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->Tree()->visualRect(sub).left() - Main->Tree()->visualRect(c).left(), 19);
    // The rows start right under the tree's frame, with no column title above them.
    EXPECT_EQ(Main->Tree()->viewport()->geometry().top(), Main->Tree()->frameWidth());
}

TEST_F(FolderTreeTest, UnderAStyleThatOpensBranchesOnReleaseTheArrowOpensAFolder) {
    // Some desktop styles open a branch when the button comes up, not when it goes down.
    class TOpenOnRelease : public QProxyStyle {
    public:
        int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                      QStyleHintReturn *data) const override {
            if (hint == SH_ListViewExpand_SelectMouseType)
                return QEvent::MouseButtonRelease;
            return QProxyStyle::styleHint(hint, option, widget, data);
        }
    };
    ASSERT_EQ(::mkdir(Root.file("C/sub").c_str(), 0755), 0);
    TOpenOnRelease style;
    Main->Tree()->setStyle(&style); // taken back below; no assertion may leave in between
    const QModelIndex c = Main->TreeModel()->IndexOf(Root.file("C"));
    Main->Tree()->scrollTo(c);
    QCoreApplication::processEvents();
    const QRect rect = Main->Tree()->visualRect(c);
    const int scans = Main->ScanCount();
    QTest::mouseClick(Main->Tree()->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - Main->Tree()->indentation() / 2, rect.center().y()));
    EXPECT_TRUE(Main->Tree()->isExpanded(Main->TreeModel()->IndexOf(Root.file("C"))));
    Settle();
    EXPECT_EQ(Main->ScanCount(), scans);
    Main->Tree()->setStyle(nullptr);
}

TEST_F(FolderTreeTest, AFolderChosenOutsideTheTreeIsScannedOnce) {
    ClickAndWait(Root.file("A"));
    const int scans = Main->ScanCount();
    // Browse and the command line set the tree's row from code; that is one scan, not two.
    Main->SetTreePath(Root.file("C"));
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    Settle();
    EXPECT_EQ(Main->ScanCount(), scans + 1);
    EXPECT_EQ(Main->SelFolder(), Root.file("C"));
}

TEST_F(FolderTreeTest, RefreshOfAFolderGoneBeforeItsScanSaysSo) {
    const std::string gone = Root.file("gone");
    Main->SetSelFolder(gone);
    Main->BtnRefreshClick();
    ASSERT_TRUE(testutil::WaitFor([&] { return Status() == GoneStatus; })) << Status();
    EXPECT_EQ(Main->List()->Count(), 0);
    EXPECT_EQ(Main->CurrentFileText().toStdString(), " " + gone);
    EXPECT_FALSE(Main->StopEnabled());
    EXPECT_FALSE(Exists(gone));
}

TEST_F(FolderTreeTest, ARawPassInAFolderRenamedOutsideStopsAndWritesNowhereElse) {
    // RAW files whose previews take the workers a while, so that the pass is caught running.
    const std::string b = Root.file("B"), b2 = Root.file("B2");
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(2400, 1600));
    const int raws = 40;
    for (int i = 0; i < raws; ++i)
        cr2::WriteCr2(b + "/IMG_" + std::to_string(1000 + i) + ".CR2", options);

    ClickFolder(b);
    ASSERT_TRUE(testutil::WaitFor([&] { return !Thumbnails(b).empty(); }));
    ASSERT_EQ(std::rename(b.c_str(), b2.c_str()), 0);
    ASSERT_TRUE(testutil::WaitFor([&] { return Status() == GoneStatus; })) << Status();
    Settle();

    // Stopped after the files in hand, none of them written anywhere but beside its RAW file;
    // the folder is not made again, and a stopped pass pops no list of failures.
    EXPECT_LT(Thumbnails(b2).size(), std::size_t(raws));
    EXPECT_FALSE(Exists(b));
    EXPECT_TRUE(Thumbnails(Root.file("A")).empty());
    EXPECT_TRUE(Thumbnails(Root.file("C")).empty());
    EXPECT_EQ(Main->ScanCount(), 1);
    EXPECT_EQ(Main->List()->Count(), 0);
    EXPECT_TRUE(Boxes.empty()) << (Boxes.empty() ? "" : Boxes[0]);
}

TEST(FolderTreeModelRefresh, GoneFoldersLeaveNewOnesJoinAndTheRestKeepTheirRows) {
    testutil::TempDir root;
    const auto make = [&](const std::string &name) {
        ASSERT_EQ(::mkdir(root.file(name).c_str(), 0755), 0) << name;
    };
    for (const char *name : {"A", "A/sub", "B", "P", "P/Q", ".hidden"})
        make(name);
    TFolderTreeModel model;
    const QModelIndex sub = model.IndexOf(root.file("A/sub"));
    ASSERT_TRUE(sub.isValid());
    ASSERT_TRUE(model.IndexOf(root.file(".hidden")).isValid()); // joins though not listed
    ASSERT_TRUE(model.IndexOf(root.file("P/Q")).isValid());
    const QPersistentModelIndex kept(sub);
    EXPECT_FALSE(qvariant_cast<QIcon>(model.data(sub, Qt::DecorationRole)).isNull());

    const auto rows = [&] {
        std::vector<std::string> names;
        const QModelIndex parent = model.IndexOf(root.path());
        for (int row = 0; row < model.rowCount(parent); ++row)
            names.push_back(ExtractFileName(model.PathOf(model.index(row, 0, parent))));
        return names;
    };
    ASSERT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "B", "P"}));

    // B deleted, P renamed (its subfolder goes with it), a folder made: the deepest folder on
    // the way to the one gone that still exists is read again.
    RemoveTree(root.file("B"));
    ASSERT_EQ(std::rename(root.file("P").c_str(), root.file("O").c_str()), 0);
    make("C");
    model.Refresh(root.file("P/Q"));
    EXPECT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "C", "O"}));
    EXPECT_TRUE(kept.isValid());
    EXPECT_EQ(model.PathOf(kept), root.file("A/sub"));
    EXPECT_FALSE(model.Changing());

    // Nothing on the way gone: the tree stays as it is.
    model.Refresh(root.file("A/sub"));
    EXPECT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "C", "O"}));
}

} // namespace
