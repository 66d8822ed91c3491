// The thumbnail creator: naming, the driven load and create steps, and the safe replacement of
// thumbnail files.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Exceptions.h"
#include "JpegConv.h"
#include "JpegTestUtil.h"
#include "ShellUi.h"
#include "TempFolder.h"
#include "TestUtil.h"
#include "ThumbsMain.h"

using namespace jpegtest;

TEST(ThumbnailNaming, TheRawFileNameFollowedByJpgInItsFolder) {
    EXPECT_EQ(ThumbnailPath("/pics", "", "/pics/IMG_0001.CR2"), "/pics/IMG_0001.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics", "t_", "/pics/IMG_0001.CR2"), "/pics/t_IMG_0001.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics", "", "/pics/img_0001.cr2"), "/pics/img_0001.cr2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics", "", "/pics/A.CR2.CR2"), "/pics/A.CR2.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics", "", "/pics/A.CR2"), "/pics/A.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics", "", "/pics/X.CR2Y.CR2"), "/pics/X.CR2Y.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/", "", "/IMG_0001.CR2"), "/IMG_0001.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/pics/", "", "/pics/IMG_0001.CR2"), "/pics/IMG_0001.CR2.JPG");
    EXPECT_EQ(ThumbnailPath("/p\xe9s", "", "/p\xe9s/\xff.CR2"), "/p\xe9s/\xff.CR2.JPG");
}

TEST(ThumbnailNaming, RemoveAllSearchesAgainAfterEachDeletion) {
    EXPECT_EQ(RemoveAll(".CR2", "A.CR2.CR2"), "A");
    EXPECT_EQ(RemoveAll(".CR2", "X.CR2Y.CR2"), "XY");
    EXPECT_EQ(RemoveAll(".CR2", "img_0001.cr2"), "img_0001.cr2");
    EXPECT_EQ(RemoveAll("ab", "aabb"), ""); // the deletion joins a new occurrence
    EXPECT_EQ(RemoveAll("", "abc"), "abc");
}

class ThumbCreator : public ::testing::Test {
protected:
    void SetUp() override {
        FOldRuntime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", FRuntime.path().c_str(), 1);
        FPreview = TempPreviewPath(TempPreview::Scan);
        testutil::WriteFile(FPics.file("IMG_0001.CR2"), "raw");
        form = std::make_unique<TthumbForm1>();
        form->SetRawFile(FPics.path(), "IMG_0001.CR2");
    }
    void TearDown() override {
        form.reset();
        if (FOldRuntime.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", FOldRuntime.c_str(), 1);
    }
    // A load and a create, as a user of the window would do them.
    void Convert(const std::vector<std::uint8_t> &preview) {
        testutil::WriteFile(FPreview, preview);
        form->LoadButtonClick();
        form->CreateButtonClick();
    }
    std::string Thumb() const { return FPics.file("IMG_0001.CR2.JPG"); }
    QStringList Files() const {
        return QDir(QString::fromStdString(FPics.path()))
            .entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    testutil::TempDir FRuntime, FPics;
    std::string FOldRuntime, FPreview;
    std::unique_ptr<TthumbForm1> form;
};

TEST_F(ThumbCreator, AnOutputFolderLongerThanAWindowsPathIsTaken) {
    std::string deep = FPics.path();
    while (deep.size() < 300)
        deep += "/" + std::string(60, 'd');
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep)));
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.BrowseForFolder = [&](const std::string &, const std::string &) { return deep; };
    });
    form->SpeedButton2Click();
    scope.reset();
    EXPECT_EQ(form->OutDirEdit->text().toStdString(), deep);
}

TEST_F(ThumbCreator, EachRawFileIsConvertedOnceIntoItsThumbnail) {
    PIXAVANT_REQUIRE_SAMPLES();
    const auto preview = testutil::ReadFile(testutil::Sample("jpg/exiv2_exiv2-canon-eos-20d.jpg"));
    for (int run = 0; run < 3; ++run) {
        Convert(preview);
        EXPECT_EQ(form->FilesListBox->count(), 1);
        EXPECT_EQ(form->FileEntry(0), FPreview);
        EXPECT_EQ(form->StatusText(), "Done 1 of 1");
        EXPECT_FALSE(testutil::FileExists(FPreview)) << "the used preview stays in memory";
    }
    const JpegFacts facts = ReadFacts(testutil::ReadFile(Thumb()));
    EXPECT_EQ(facts.width, 150);
    EXPECT_EQ(facts.height, 100);
    EXPECT_EQ(facts.quality, 90);
    EXPECT_EQ(Files(), QStringList({"IMG_0001.CR2", "IMG_0001.CR2.JPG"}));
}

TEST_F(ThumbCreator, UsesTheUpDownSizesAndThePrefix) {
    form->WidthEdit->setText("80"); // typed into the edit
    form->HeightUpDown->SetPosition(80);
    form->PrefixEdit->setText("t_");
    Convert(MakeJpeg(300, 200));
    const JpegFacts facts = ReadFacts(testutil::ReadFile(FPics.file("t_IMG_0001.CR2.JPG")));
    EXPECT_EQ(facts.width, 80);
    EXPECT_EQ(facts.height, 80);

    // Text that is no position in range leaves the last valid one.
    form->WidthEdit->setText("0");
    EXPECT_EQ(form->WidthUpDown->Position(), 80);
    form->WidthEdit->setText("40000");
    EXPECT_EQ(form->WidthUpDown->Position(), 80);
    for (TUpDown *upDown : {form->WidthUpDown, form->HeightUpDown}) {
        upDown->SetPosition(40000);
        EXPECT_EQ(upDown->Position(), 32767);
    }
}

TEST_F(ThumbCreator, TheUpDownArrowsStepThePositionWithinItsRange) {
    const struct {
        int Start;
        bool Up;
        int After;
    } rows[] = {
        {150, true, 151},
        {150, false, 149},
        {32767, true, 32767},
        {1, false, 1},
    };
    for (const auto &row : rows) {
        form->WidthUpDown->SetPosition(row.Start);
        const auto arrows = form->WidthUpDown->findChildren<QToolButton *>();
        ASSERT_EQ(arrows.size(), 2);
        for (QToolButton *arrow : arrows)
            if ((arrow->arrowType() == Qt::UpArrow) == row.Up)
                arrow->click();
        EXPECT_EQ(form->WidthUpDown->Position(), row.After)
            << row.Start << (row.Up ? " up" : " down");
        EXPECT_EQ(form->WidthEdit->text().toInt(), row.After);
    }
}

TEST_F(ThumbCreator, OnlyTheScansOwnPreviewIsRemovedOnceUsed) {
    // A file the user listed stays; a preview that fails to convert is used up all the same.
    const std::string own = FPics.file("own.jpg");
    testutil::WriteFile(own, MakeJpeg(300, 200));
    auto *item = new QListWidgetItem(QString::fromStdString(own));
    form->FilesListBox->addItem(item);
    form->CreateButtonClick();
    EXPECT_TRUE(testutil::FileExists(own));
    form->FilesListBox->clear();

    EXPECT_THROW(Convert(Slice(MakeJpeg(300, 200), 30)), EJPEG);
    EXPECT_FALSE(testutil::FileExists(FPreview));
}

TEST_F(ThumbCreator, AnEmptyListChangesNothing) {
    form->CreateButtonClick();
    EXPECT_EQ(form->StatusText(), "");
    EXPECT_EQ(Files(), QStringList({"IMG_0001.CR2"}));
}

TEST_F(ThumbCreator, AFailureKeepsThePreviousThumbnailAndLeavesNoTemporaryFile) {
    Convert(MakeJpeg(300, 200));
    const auto good = testutil::ReadFile(Thumb());
    ASSERT_FALSE(good.empty());

    EXPECT_THROW(Convert(Slice(MakeJpeg(300, 200), 30)), EJPEG);
    EXPECT_THROW(Convert({}), EInvalidOp);
    ::unlink(FPreview.c_str());
    EXPECT_THROW(form->CreateButtonClick(), EFOpenError);
    form->WidthUpDown->SetPosition(70000); // the largest the control takes, too big to keep
    testutil::WriteFile(FPreview, MakeJpeg(300, 200));
    form->HeightUpDown->SetPosition(32767);
    EXPECT_THROW(form->CreateButtonClick(), EOutOfMemory);

    EXPECT_EQ(testutil::ReadFile(Thumb()), good);
    EXPECT_EQ(Files(), QStringList({"IMG_0001.CR2", "IMG_0001.CR2.JPG"}));
}

TEST_F(ThumbCreator, APictureOfTheSameNameThatWeDidNotWriteIsLeftAlone) {
    const auto own = MakeJpeg(64, 64);
    testutil::WriteFile(Thumb(), own);
    try {
        Convert(MakeJpeg(300, 200));
        FAIL() << "nothing raised";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(),
                  "\"" + Thumb() + "\" exists and was not made by Pixavant; left as it is");
    }
    EXPECT_EQ(testutil::ReadFile(Thumb()), own);
    EXPECT_EQ(form->StatusText(), "");

    // An empty file holds no picture to protect.
    testutil::WriteFile(Thumb(), std::vector<std::uint8_t>{});
    Convert(MakeJpeg(300, 200));
    EXPECT_TRUE(HasThumbnailComment(Thumb()));
}

namespace {

// Another user of a shared folder: every time a temporary file of ours appears, it is swapped
// for a symbolic link to a file of the victim's, as fast as the kernel reports it.
class TNameSwapper {
public:
    TNameSwapper(const std::string &folder, const std::string &victim)
        : FFolder(folder), FVictim(victim), FNotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        ::inotify_add_watch(FNotify, folder.c_str(), IN_CREATE);
        FThread = std::thread([this] { Run(); });
    }
    ~TNameSwapper() {
        FStop = true;
        FThread.join();
        ::close(FNotify);
    }
    int Swaps() const { return FSwaps; }

private:
    void Run() {
        alignas(inotify_event) char buffer[4096];
        while (!FStop) {
            pollfd p{FNotify, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(FNotify, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                const std::string name = event->len ? event->name : "";
                if (name.rfind(".pixavant-", 0) == 0) {
                    const std::string link = FFolder + "/.swap";
                    ::unlink(link.c_str());
                    if (::symlink(FVictim.c_str(), link.c_str()) == 0 &&
                        ::rename(link.c_str(), (FFolder + "/" + name).c_str()) == 0)
                        ++FSwaps;
                }
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    std::string FFolder, FVictim;
    int FNotify;
    std::atomic<bool> FStop{false};
    std::atomic<int> FSwaps{0};
    std::thread FThread;
};

} // namespace

TEST(ThumbnailFileRace, ANameSwappedForALinkNeverLeadsTheWriteElsewhere) {
    testutil::TempDir pics, home;
    const std::string victim = home.file("thesis.txt");
    testutil::WriteFile(victim, "the only copy");
    const std::string preview = pics.file("preview.jpg");
    testutil::WriteFile(preview, MakeJpeg(300, 200));
    const std::string dest = pics.file("IMG_0001.CR2.JPG");

    int written = 0, refused = 0;
    {
        TNameSwapper swapper(pics.path(), victim);
        for (int run = 0; run < 300; ++run) {
            try {
                WriteThumbnailFile(preview, dest, 150, 100, clWhite);
                ++written;
                struct stat st {};
                ASSERT_EQ(::lstat(dest.c_str(), &st), 0);
                ASSERT_TRUE(S_ISREG(st.st_mode));
                ASSERT_TRUE(HasThumbnailComment(dest));
            } catch (const Exception &e) {
                ++refused;
                EXPECT_NE(e.Message().find("swapped the temporary file"), std::string::npos)
                    << e.Message();
                // A link that reached the thumbnail's name would block the next runs.
                struct stat st {};
                if (::lstat(dest.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                    ::unlink(dest.c_str());
            }
        }
        EXPECT_GT(swapper.Swaps(), 0);
    }
    EXPECT_EQ(testutil::ReadFile(victim),
              std::vector<std::uint8_t>(
                  {'t', 'h', 'e', ' ', 'o', 'n', 'l', 'y', ' ', 'c', 'o', 'p', 'y'}));
    EXPECT_GT(refused, 0);
    EXPECT_EQ(written + refused, 300);
}

TEST(ThumbnailFileRace, AFolderEveryoneMayChangeIsRefusedUnlessSticky) {
    testutil::TempDir pics;
    const std::string preview = pics.file("preview.jpg");
    testutil::WriteFile(preview, MakeJpeg(300, 200));
    const std::string shared = pics.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    try {
        WriteThumbnailFile(preview, shared + "/A.CR2.JPG", 150, 100, clWhite);
        FAIL() << "nothing raised";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "The folder \"" + shared +
                                   "\" can be changed by every user; no thumbnail is written "
                                   "there, since another user could swap it for a link");
    }
    EXPECT_FALSE(testutil::FileExists(shared + "/A.CR2.JPG"));

    // With the sticky bit only we may rename or remove our files; a group may be trusted.
    for (const mode_t mode : {mode_t(01777), mode_t(0775)}) {
        ASSERT_EQ(::chmod(shared.c_str(), mode), 0);
        WriteThumbnailFile(preview, shared + "/A.CR2.JPG", 150, 100, clWhite);
        EXPECT_TRUE(HasThumbnailComment(shared + "/A.CR2.JPG"));
        ::unlink((shared + "/A.CR2.JPG").c_str());
    }
}

TEST(ThumbnailFileFailures, AnythingButARegularFileOfThatNameIsLeftAlone) {
    testutil::TempDir pics;
    const std::string preview = pics.file("preview.jpg");
    testutil::WriteFile(preview, MakeJpeg(300, 200));
    const std::string target = pics.file("target.txt");
    testutil::WriteFile(target, "keep");
    const std::string dest = pics.file("IMG_0001.CR2.JPG");

    struct Row {
        const char *what;
        std::function<int()> make;
        mode_t type;
    };
    const Row rows[] = {
        {"folder", [&] { return ::mkdir(dest.c_str(), 0700); }, S_IFDIR},
        {"pipe", [&] { return ::mkfifo(dest.c_str(), 0600); }, S_IFIFO},
        {"link", [&] { return ::symlink(target.c_str(), dest.c_str()); }, S_IFLNK},
        {"dangling link", [&] { return ::symlink("nowhere", dest.c_str()); }, S_IFLNK},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(row.make(), 0);
        try {
            WriteThumbnailFile(preview, dest, 150, 100, clWhite);
            ADD_FAILURE() << "nothing raised";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(),
                      "\"" + dest + "\" exists and is not a regular file; left as it is");
        }
        struct stat st {};
        ASSERT_EQ(::lstat(dest.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, row.type);
        EXPECT_EQ(testutil::ReadFile(target), std::vector<std::uint8_t>({'k', 'e', 'e', 'p'}));
        ::remove(dest.c_str());
    }
    EXPECT_EQ(QDir(QString::fromStdString(pics.path()))
                  .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs |
                             QDir::NoDotAndDotDot),
              QStringList({"preview.jpg", "target.txt"}));
}

TEST(ThumbnailFileFailures, AFullDiskIsReportedForTheThumbnailNotItsTemporaryFile) {
    testutil::SmallFileSystem disk(256 << 10);
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    testutil::TempDir pics;
    const std::string preview = pics.file("preview.jpg");
    testutil::WriteFile(preview, MakeJpeg(600, 400));
    const std::string dest = disk.file("IMG_0001.CR2.JPG");
    WriteThumbnailFile(preview, dest, 150, 100, clWhite);
    const auto before = testutil::ReadFile(dest);
    disk.Fill();
    try {
        WriteThumbnailFile(preview, dest, 150, 100, clBlack);
        FAIL() << "nothing raised";
    } catch (const EStreamError &e) {
        EXPECT_EQ(e.Message(), "Cannot write file \"" + dest + "\". No space left on device");
    }
    EXPECT_EQ(testutil::ReadFile(dest), before);
    EXPECT_EQ(QDir(QString::fromStdString(disk.path())).entryList(QDir::Files | QDir::Hidden),
              QStringList({".filler", "IMG_0001.CR2.JPG"}));
}
