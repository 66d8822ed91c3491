// The command line: which folder and picture it asks for, and a start on a picture that
// selects it in its folder's list and shows it in the viewer.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include <QMimeDatabase>

#include <QFile>

#include <QDir>
#include <QImage>
#include <QTimer>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "Application.h"
#include "CommandLine.h"
#include "Cr2Writer.h"
#include "Dialogs.h"
#include "TestUtil.h"
#include "Thread.h"
#include "ThumbsMain.h"
#include "fullscreen.h"
#include "main.h"
#include "view.h"

namespace {

void WritePng(const std::string &path) {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

TEST(CommandLine, NamesAFolderOrAPictureInItsFolder) {
    testutil::TempDir dir;
    const std::string root = dir.path();
    ::mkdir(dir.file("sub").c_str(), 0700);
    testutil::WriteFile(dir.file("sub/a.png"), std::string("x"));
    testutil::WriteFile(dir.file("sub/\xff\xfe.png"), std::string("x"));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(root));

    const struct {
        std::vector<std::string> Args;
        std::string Folder, File;
        const char *Error; // a part of the message, or nullptr for none
    } rows[] = {
        {{}, "", "", nullptr},
        {{root + "/sub"}, root + "/sub", "", nullptr},
        {{root + "/sub/"}, root + "/sub", "", nullptr},
        {{"sub"}, root + "/sub", "", nullptr},
        {{"sub/./a.png"}, root + "/sub", "a.png", nullptr},
        {{root + "/sub/\xff\xfe.png"}, root + "/sub", "\xff\xfe.png", nullptr},
        {{"/"}, "/", "", nullptr},
        {{"missing.png"}, "", "", "\"missing.png\": no such file or folder; starting as usual"},
        {{""}, "", "", "no such file or folder"},
        {{"sub", "other", "more"}, root + "/sub", "", "ignoring \"other\" and the rest"},
    };
    for (const auto &row : rows) {
        std::string error;
        const TStartRequest request = ParseCommandLine(row.Args, error);
        const std::string where = row.Args.empty() ? "(none)" : row.Args.front();
        EXPECT_EQ(request.Folder, row.Folder) << where;
        EXPECT_EQ(request.File, row.File) << where;
        if (row.Error) {
            EXPECT_NE(error.find(row.Error), std::string::npos) << where << ": " << error;
        } else {
            EXPECT_EQ(error, "") << where;
        }
    }
    QDir::setCurrent(saved);
}

TEST(CommandLine, UnreadablePathsStartAsUsual) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    testutil::TempDir dir;
    ::mkdir(dir.file("locked").c_str(), 0);
    testutil::WriteFile(dir.file("secret.png"), std::string("x"));
    ::chmod(dir.file("secret.png").c_str(), 0);
    for (const char *name : {"locked", "secret.png"}) {
        std::string error;
        const TStartRequest request = ParseCommandLine({dir.file(name)}, error);
        EXPECT_TRUE(request.Folder.empty()) << name;
        EXPECT_NE(error.find("cannot be read; starting as usual"), std::string::npos) << error;
    }
    ::chmod(dir.file("locked").c_str(), 0700);
}

TEST(CommandLine, RawFilesAreListedThroughTheirThumbnailFiles) {
    EXPECT_EQ(ListEntryForFile("IMG_0001.CR2"), "IMG_0001.CR2.JPG");
    EXPECT_EQ(ListEntryForFile("img.cr2"), "img.cr2.JPG");
    EXPECT_EQ(ListEntryForFile("photo.jpg"), "photo.jpg");
    EXPECT_EQ(ListEntryForFile("IMG_0001.CR2.JPG"), "IMG_0001.CR2.JPG");
    // Every RAW type the desktop entry offers Pixavant for ("Open With"), in either case.
    QFile desktop(QStringLiteral(PIXAVANT_SOURCE_DIR "/data/org.pixavant.Pixavant.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    const auto line = QRegularExpression("^MimeType=(.*)$", QRegularExpression::MultilineOption)
                          .match(entry)
                          .captured(1);
    int checked = 0;
    for (const QString &type : line.split(';', Qt::SkipEmptyParts)) {
        if (!type.startsWith("image/x-"))
            continue; // the ordinary pictures are listed as they are
        for (const QString &suffix : QMimeDatabase().mimeTypeForName(type).suffixes()) {
            for (const QString &name : {"IMG." + suffix.toUpper(), "img." + suffix.toLower()}) {
                EXPECT_EQ(ListEntryForFile(name.toStdString()), name.toStdString() + ".JPG")
                    << type.toStdString();
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 30);
}

class StartOnTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", Home.file("run").c_str(), 1);
        setenv("XDG_CACHE_HOME", Home.file("cache").c_str(), 1);
        ::mkdir(Home.file("run").c_str(), 0700);
        Services = testutil::ChangeServices([this](TPlatformServices &s) {
            s.MessageBox = [this](HWND, const std::string &text, const std::string &, UINT) {
                Boxes.push_back(text);
                return IDOK;
            };
        });
        Main = std::make_unique<TMainForm>();
        View = std::make_unique<TviewForm>();
        View->SetBrowser(Main.get());
        Full = std::make_unique<Tfullform>();
        Thumbs = std::make_unique<TthumbForm1>();
        thumbForm1 = Thumbs.get();
        WritePng(Folder.file("a.png"));
        WritePng(Folder.file("b.png"));
        cr2::Cr2Options raw;
        raw.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(64, 48));
        cr2::WriteCr2(Folder.file("IMG_0001.CR2"), raw);
        testutil::WriteFile(Folder.file("notes.txt"), std::string("x"));
    }
    void TearDown() override {
        Main->BtnStopClick();
        TThread::WaitForAll();
        QCoreApplication::processEvents();
        thumbForm1 = nullptr;
        Thumbs.reset();
        Full.reset();
        View.reset();
        Main.reset();
        Services.reset();
    }

    testutil::TempDir Home, Folder;
    std::vector<std::string> Boxes;
    std::unique_ptr<TServicesScope> Services;
    std::unique_ptr<TMainForm> Main;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;
    std::unique_ptr<TthumbForm1> Thumbs;
};

TEST_F(StartOnTest, PictureIsSelectedInItsFolderAndShownInTheViewer) {
    const struct {
        const char *Arg;
        const char *Entry;   // the selected list entry
        const char *Picture; // what the viewer shows
    } rows[] = {
        {"b.png", "b.png", "b.png"},
        {"IMG_0001.CR2", "IMG_0001.CR2.JPG", "IMG_0001.CR2"},
        {"IMG_0001.CR2.JPG", "IMG_0001.CR2.JPG", "IMG_0001.CR2"},
    };
    for (const auto &row : rows) {
        View->hide();
        std::string error;
        const TStartRequest request = ParseCommandLine({Folder.file(row.Arg)}, error);
        ASSERT_EQ(error, "");
        // The picture is on the screen before its folder's scan has begun.
        const int scans = Main->ScanCount();
        bool shownFirst = false;
        QTimer::singleShot(0, [&] {
            shownFirst = View->isVisible() && Main->ScanCount() == scans &&
                         View->Caption() == std::string("Pixavant - ") + row.Entry;
        });
        ASSERT_TRUE(StartOn(*Main, request, error)) << error;
        EXPECT_TRUE(shownFirst) << row.Arg;
        EXPECT_EQ(Main->FolderText().toStdString(), Folder.path());
        const int index = Main->List()->ItemIndex();
        ASSERT_GE(index, 0) << row.Arg;
        EXPECT_EQ(Main->List()->Caption(index), row.Entry);
        EXPECT_EQ(Main->SelectedText().toStdString(), Folder.file(row.Picture));
        EXPECT_TRUE(View->isVisible()) << row.Arg;
        EXPECT_EQ(View->Caption(), std::string("Pixavant - ") + row.Entry);
        ASSERT_TRUE(testutil::WaitFor([&] { return !Main->Extractor(); }));
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(StartOnTest, FolderOpensWithNothingSelectedAndAnUnlistedFileOnlyOpensItsFolder) {
    std::string error;
    ASSERT_TRUE(StartOn(*Main, ParseCommandLine({Folder.path()}, error), error));
    EXPECT_EQ(Main->FolderText().toStdString(), Folder.path());
    EXPECT_EQ(Main->List()->Count(), 3); // a.png, b.png and the RAW file's thumbnail
    EXPECT_EQ(Main->List()->ItemIndex(), -1);
    EXPECT_FALSE(View->isVisible());
    ASSERT_TRUE(testutil::WaitFor([&] { return !Main->Extractor(); }));

    EXPECT_FALSE(StartOn(*Main, ParseCommandLine({Folder.file("notes.txt")}, error), error));
    EXPECT_NE(error.find("\"notes.txt\" is not a picture Pixavant shows"), std::string::npos);
    EXPECT_EQ(Main->FolderText().toStdString(), Folder.path());
    EXPECT_FALSE(View->isVisible());
}

} // namespace
