// The main window's state after start-up, its option controls, the start folder, the list's
// message handlers and the selection details.
#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>

#include <cstdlib>

#include "BrowserFixture.h"
#include "Exceptions.h"
#include "Graphics.h"
#include "main.h"
#include "view.h"

TEST_F(BrowserTest, StateAfterStartUp) {
    EXPECT_EQ(Main->Caption(), "Pixavant");
    const TThumbnailExtractorNotify &n = Main->Notify();
    EXPECT_EQ(n.Window, Main->Handle());
    EXPECT_EQ(n.MsgIconsDone, 1128u);
    EXPECT_EQ(n.MsgUseImage, 1129u);
    EXPECT_EQ(n.MsgAddImage, 1126u);
    EXPECT_EQ(n.MsgReplaceImage, 1130u);
    EXPECT_EQ(n.MsgItemStarted, 1131u);
    EXPECT_EQ(Main->Extractor(), nullptr);
    EXPECT_FALSE(Main->RestartPending());
    EXPECT_FALSE(Main->ThumbnailPass());
    EXPECT_FALSE(Main->StopEnabled());
    EXPECT_TRUE(Main->StatusText().isEmpty());
    EXPECT_TRUE(Main->CurrentFileText().isEmpty());
    EXPECT_EQ(Main->ProgressPosition(), 0);
    EXPECT_EQ(Main->findChild<QComboBox *>("ComboBox1")->currentText(), "pf32Bit");
    EXPECT_EQ(Main->Images()->Width(), 120);
    EXPECT_EQ(Main->Images()->Height(), 120);
    EXPECT_EQ(Main->List()->Count(), 0);
    EXPECT_TRUE(Main->findChild<QCheckBox *>("CheckBox3")->isChecked());
    EXPECT_FALSE(Main->findChild<QLabel *>("Label1")->isVisible());
}

TEST_F(BrowserTest, TheWindowsPanelsSitWhereTheyAreDesigned) {
    Main->show();
    QCoreApplication::processEvents();
    // Geometry in the window's own coordinates.
    const auto at = [&](const QWidget *w) {
        return QRect(w->mapTo(Main.get(), QPoint()), w->size());
    };
    const QRect client = Main->rect();
    const QRect top = at(Main->findChild<QFrame *>("PnlTop")),
                bottom = at(Main->findChild<QFrame *>("PnlBtm"));
    const QRect status = at(Main->findChild<QLabel *>("PnlStatus")),
                file = at(Main->findChild<QLabel *>("PnlCurFile"));
    const QRect bar = at(Main->findChild<QProgressBar *>("ProgressBar1")), tree = at(Main->Tree()),
                list = at(Main->List());

    EXPECT_EQ(top.topLeft(), QPoint(0, 0));
    EXPECT_EQ(top.height(), 65);
    EXPECT_EQ(top.width(), client.width());
    EXPECT_EQ(bottom.height(), 20);
    EXPECT_EQ(bottom.bottom(), client.bottom());
    EXPECT_EQ(bottom.width(), client.width());
    // The status line: a border of one pixel, the status on the left, the bar on the right and
    // the current file between them.
    EXPECT_EQ(status.topLeft(), bottom.topLeft() + QPoint(1, 1));
    EXPECT_EQ(status.width(), 184);
    EXPECT_EQ(status.bottom(), bottom.bottom() - 1);
    EXPECT_EQ(bar.width(), 235);
    EXPECT_EQ(bar.right(), bottom.right() - 1);
    EXPECT_GT(file.left(), status.right());
    EXPECT_LE(file.left(), status.right() + 2);
    EXPECT_LT(file.right(), bar.left());
    EXPECT_GE(file.right(), bar.left() - 2);
    // Between the panels: the tree on the left, 185 wide, and the list filling the rest.
    EXPECT_EQ(tree.left(), 0);
    EXPECT_EQ(tree.width(), 185);
    EXPECT_EQ(tree.top(), top.bottom() + 1);
    EXPECT_EQ(list.right(), client.right());
    EXPECT_EQ(list.bottom(), bottom.top() - 1);
}

TEST_F(BrowserTest, ALongFileNameNeverWidensTheWindow) {
    Main->show();
    const int before = Main->minimumSizeHint().width();
    const std::string name = std::string(251, 'n') + ".JPG"; // the longest name a folder holds
    Main->ShowCurrentFile(name);
    Main->ShowStatus(name);
    QCoreApplication::processEvents();
    EXPECT_EQ(Main->minimumSizeHint().width(), before);
    EXPECT_LT(Main->findChild<QLabel *>("PnlCurFile")->width(),
              Main->findChild<QLabel *>("PnlCurFile")
                  ->fontMetrics()
                  .horizontalAdvance(Main->CurrentFileText()));
    EXPECT_EQ(Main->CurrentFileText().toStdString(), " " + name); // shortened only when drawn
}

TEST_F(BrowserTest, PixelFormatBitsForEveryIndex) {
    const int expected[] = {4, 8, 16, 24, 32};
    for (int i = 0; i < 5; ++i) {
        Main->findChild<QComboBox *>("ComboBox1")->setCurrentIndex(i);
        EXPECT_EQ(Main->PixelFormatBits(), expected[i]);
    }
    Main->findChild<QComboBox *>("ComboBox1")->setCurrentIndex(-1);
    EXPECT_EQ(Main->PixelFormatBits(), 32);
}

TEST_F(BrowserTest, OptionBoxesAreNotTheWindowsOwnSoFlagsStayZero) {
    for (QCheckBox *box :
         {Main->findChild<QCheckBox *>("CheckBox1"), Main->findChild<QCheckBox *>("CheckBox2"),
          Main->findChild<QCheckBox *>("CheckBox4"), Main->findChild<QCheckBox *>("CheckBox5")})
        box->setChecked(true);
    EXPECT_EQ(Main->ExtractFlags(), 0u);
}

TEST_F(BrowserTest, CheckBox1ClickKeepsAspectAndScreenExclusive) {
    Main->findChild<QCheckBox *>("CheckBox1")->setChecked(false);
    Main->findChild<QCheckBox *>("CheckBox3")->setChecked(true);
    Main->CheckBox1Click(Main->findChild<QCheckBox *>("CheckBox1")); // unchecked: nothing changes
    EXPECT_TRUE(Main->findChild<QCheckBox *>("CheckBox3")->isChecked());
    Main->findChild<QCheckBox *>("CheckBox1")->click(); // checks it and runs the handler
    EXPECT_TRUE(Main->findChild<QCheckBox *>("CheckBox1")->isChecked());
    EXPECT_FALSE(Main->findChild<QCheckBox *>("CheckBox3")->isChecked());
    Main->findChild<QCheckBox *>("CheckBox3")->setChecked(true);
    Main->CheckBox1Click(Main->findChild<QCheckBox *>("CheckBox3")); // tag 32 unchecks CheckBox1
    EXPECT_FALSE(Main->findChild<QCheckBox *>("CheckBox1")->isChecked());
}

TEST_F(BrowserTest, ShowStartFolderWithAndWithoutDocumentsFolder) {
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char *oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    testutil::TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.file(".config").c_str(), 1);
    QDir().mkpath(QString::fromStdString(home.file(".config")));
    testutil::WriteFile(home.file(".config/user-dirs.dirs"),
                        "XDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n");

    Main->SetSelFolder("");
    Main->ShowStartFolder();
    EXPECT_TRUE(Main->FolderText().isEmpty()); // not there yet

    QDir().mkpath(QString::fromStdString(home.file("My Docs")));
    Main->ShowStartFolder();
    EXPECT_EQ(Main->FolderText().toStdString(), home.file("My Docs"));

    setenv("HOME", oldHome.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST_F(BrowserTest, ADocumentsFolderLongerThanAWindowsPathIsTheStartFolder) {
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char *oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    testutil::TempDir home;
    std::string docs = home.path();
    while (docs.size() < 300)
        docs += "/" + std::string(60, 'd');
    QDir().mkpath(QString::fromStdString(docs));
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.file(".config").c_str(), 1);
    QDir().mkpath(QString::fromStdString(home.file(".config")));
    testutil::WriteFile(home.file(".config/user-dirs.dirs"),
                        "XDG_DOCUMENTS_DIR=\"" + docs + "\"\n");

    Main->SetSelFolder("");
    Main->ShowStartFolder();
    EXPECT_EQ(Main->SelFolder(), docs);

    setenv("HOME", oldHome.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST_F(BrowserTest, IconPassHandlersFillImagesAndStepProgress) {
    for (const char *name : {"a.jpg", "b.jpg", "c.png"})
        Main->List()->AddItem(name);
    Main->SetProgressMax(3);
    Main->WMItemStarted(1);
    EXPECT_EQ(Main->CurrentFileText(), " b.jpg");

    auto icon = std::make_unique<TBitmap>(120, 120);
    icon->Fill(clWindow);
    Main->WMAddImage(0, icon.release());
    EXPECT_EQ(Main->Images()->Count(), 1);
    EXPECT_EQ(Main->List()->ImageIndex(0), 0);
    EXPECT_EQ(Main->ProgressPosition(), 1);
    Main->WMUseImage(1, 0);
    EXPECT_EQ(Main->List()->ImageIndex(1), 0);
    Main->WMAddImage(2, new TBitmap(120, 120));
    EXPECT_EQ(Main->List()->ImageIndex(2), 1);
    EXPECT_EQ(Main->ProgressPosition(), 3);
    Main->WMUseImage(2, 1); // a step past the maximum starts again from the minimum
    EXPECT_EQ(Main->ProgressPosition(), 0);

    // The icon's background became transparent; thumbnails are stored opaque.
    EXPECT_EQ(qAlpha(Main->Images()->Image(0).toImage().pixel(60, 60)), 0);

    Main->WMIconsDone();
    EXPECT_TRUE(Main->ThumbnailPass());
    EXPECT_EQ(Main->StatusText(), " Extracting thumbnails");
    EXPECT_EQ(Main->CurrentFileText(), " ");
    EXPECT_EQ(Main->ProgressPosition(), 0);

    auto thumb = std::make_unique<TBitmap>(120, 120);
    thumb->Fill(clWindow);
    Main->WMAddImage(0, thumb.release());
    EXPECT_EQ(Main->List()->ImageIndex(0), 2);
    EXPECT_EQ(qAlpha(Main->Images()->Image(2).toImage().pixel(60, 60)), 255);
    EXPECT_EQ(Main->ProgressPosition(), 1);

    auto last = std::make_unique<TBitmap>(120, 120);
    last->Fill(0x0000FF);
    Main->WMReplaceImage(1, last.release());
    EXPECT_EQ(Main->Images()->Count(), 3);
    EXPECT_EQ(Main->Images()->Image(0).toImage().pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(Main->ProgressPosition(), 2);
}

TEST_F(BrowserTest, ReplacingWithoutAnImageRaisesTheImageListError) {
    Main->List()->AddItem("a.jpg");
    try {
        Main->WMReplaceImage(0, new TBitmap(120, 120));
        FAIL();
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(), "Unable to Replace Image");
    }
}

TEST_F(BrowserTest, SelectionSetsCaptionAndPicturePath) {
    struct Row {
        const char *folder, *caption, *label, *windowCaption;
    };
    const Row rows[] = {
        {"/Pics", "IMG_0001.CR2.JPG", "/Pics/IMG_0001.CR2", "Pixavant - IMG_0001.CR2"},
        {"/Pics", "holiday.jpg", "/Pics/holiday.jpg", "Pixavant - holiday.jpg"},
        {"/Pics", "scan.tif", "/Pics/scan.tif", "Pixavant - scan.tif"},
        {"/Pics", "img.cr2.jpg", "/Pics/img.cr2.jpg", "Pixavant - img.cr2.jpg"},
        {"/Pics", "img.cr2.JPG", "/Pics/img.cr2", "Pixavant - img.cr2"},
        {"/Pics", "A.CR2.CR2.JPG", "/Pics/A.CR2.CR2", "Pixavant - A.CR2.CR2"},
        {"/A.JPG", "X.CR2.JPG", "/A.JPG/X.CR2", "Pixavant - X.CR2"},
        {"/Pics", "a.JPG.JPG", "/Pics/a.JPG.JPG", "Pixavant - a.JPG.JPG"},
        {"/", "root.CR2.JPG", "/root.CR2", "Pixavant - root.CR2"},
    };
    for (const Row &row : rows) {
        Main->List()->Clear();
        Main->SetSelFolder(row.folder);
        Main->List()->AddItem(row.caption);
        Main->List()->SetItemIndex(0);
        EXPECT_EQ(Main->SelectedText().toStdString(), row.label) << row.caption;
        EXPECT_EQ(Main->Caption(), row.windowCaption) << row.caption;
    }
}

TEST_F(BrowserTest, MovingTheSelectionKeepsTheNewEntrysValues) {
    Main->SetSelFolder("/Pics");
    Main->List()->AddItem("one.jpg");
    Main->List()->AddItem("two.CR2.JPG");
    Main->List()->SetItemIndex(0);
    Main->List()->SetItemIndex(1);
    EXPECT_EQ(Main->SelectedText(), "/Pics/two.CR2");
    EXPECT_EQ(Main->Caption(), "Pixavant - two.CR2");
}

TEST_F(BrowserTest, DoubleClickWithoutSelectionOpensNothing) {
    TviewForm view;
    Main->List()->AddItem("a.jpg");
    Main->ListViewDblClick();
    EXPECT_FALSE(view.isVisible());
}
