// The RAW pass on real folders: every camera's RAW files get their thumbnail files, unchanged
// thumbnail files are kept as they are, and foreign files of a thumbnail's name are left alone.
#include <gtest/gtest.h>

#include <QImage>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "RawFailureLog.h"
#include "main.h"

namespace {

std::set<std::string> AsSet(const std::vector<std::string> &v) {
    return {v.begin(), v.end()};
}

} // namespace

TEST_F(BrowserTest, RawFilesOfEveryCameraGetTheirThumbnailOrANamedFailure) {
    testutil::TempDir dir;
    const QDir samples(QString::fromStdString(testutil::Sample("raw")));
    for (const QString &name : samples.entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(samples.filePath(name),
                                QString::fromStdString(dir.file(name.toStdString()))));
    ScanAndWait(dir.path());
    // The samples with a readable preview (raw-identify's "Thumb size"); the others are cut
    // off or carry placeholder text instead of a picture.
    const std::set<std::string> withPreview = {
        "bep_jolstravatnet.pef",      "bep_sample_NikonD1_trunc.nef",
        "bep_sample_SD450_trunc.dng", "bep_sample_SonyA330_trunc.arw",
        "exiftool_FujiFilm.raf",      "exiftool_Panasonic.rw2"};
    std::set<std::string> expected;
    for (const std::string &name : withPreview)
        expected.insert(name + ".JPG");
    const std::set<std::string> listed = AsSet(Captions());
    for (const std::string &name : expected)
        EXPECT_TRUE(listed.count(name)) << name;
    for (const std::string &caption : listed) {
        SCOPED_TRACE(caption);
        int w = 0, h = 0;
        cr2::JpegSize(testutil::ReadFile(dir.file(caption)), w, h);
        EXPECT_EQ(w, 150);
        EXPECT_EQ(h, 100);
    }
    // Every file without a thumbnail is named in the one report of failures.
    ASSERT_TRUE(testutil::WaitFor([this] { return !Boxes.empty(); }));
    ASSERT_EQ(Boxes.size(), 1u);
    for (const QString &name : samples.entryList(QDir::Files)) {
        const std::string raw = name.toStdString();
        if (!listed.count(raw + ".JPG"))
            EXPECT_NE(Boxes[0].find(raw + ": "), std::string::npos) << raw;
        else
            EXPECT_EQ(Boxes[0].find(raw + ": "), std::string::npos) << raw;
    }
}

namespace {

struct FileId {
    ino_t Inode = 0;
    timespec Mtime{};
};

FileId Identify(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {st.st_ino, st.st_mtim};
}

bool Same(const FileId &a, const FileId &b) {
    return a.Inode == b.Inode && a.Mtime.tv_sec == b.Mtime.tv_sec &&
           a.Mtime.tv_nsec == b.Mtime.tv_nsec;
}

void WritePhotoCr2(const std::string &path) {
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
    cr2::WriteCr2(path, options);
}

} // namespace

TEST_F(BrowserTest, ARevisitKeepsCurrentThumbnailsAndRedoesTouchedOnes) {
    testutil::TempDir dir;
    WritePhotoCr2(dir.file("IMG_0001.CR2"));
    WritePhotoCr2(dir.file("IMG_0002.NEF")); // any RAW name; the content is what LibRaw reads
    ScanAndWait(dir.path());
    const FileId first1 = Identify(dir.file("IMG_0001.CR2.JPG"));
    const FileId first2 = Identify(dir.file("IMG_0002.NEF.JPG"));
    const auto bytes2 = testutil::ReadFile(dir.file("IMG_0002.NEF.JPG"));

    // Unchanged RAW files: nothing is rewritten, and both are still listed.
    ScanAndWait(dir.path());
    EXPECT_TRUE(Same(Identify(dir.file("IMG_0001.CR2.JPG")), first1));
    EXPECT_TRUE(Same(Identify(dir.file("IMG_0002.NEF.JPG")), first2));
    EXPECT_EQ(AsSet(Captions()), (std::set<std::string>{"IMG_0001.CR2.JPG", "IMG_0002.NEF.JPG"}));

    // A RAW file changed after its thumbnail was made is converted again, to the same picture
    // (its comment names the RAW file's new time).
    const timespec later[2] = {{first2.Mtime.tv_sec + 10, 0}, {first2.Mtime.tv_sec + 10, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("IMG_0002.NEF").c_str(), later, 0), 0);
    ScanAndWait(dir.path());
    EXPECT_TRUE(Same(Identify(dir.file("IMG_0001.CR2.JPG")), first1));
    EXPECT_FALSE(Same(Identify(dir.file("IMG_0002.NEF.JPG")), first2));
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("IMG_0002.NEF.JPG"))),
              QImage::fromData(bytes2.data(), int(bytes2.size())));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(BrowserTest, AForeignPictureOfAThumbnailsNameIsLeftAlone) {
    testutil::TempDir dir;
    WritePhotoCr2(dir.file("IMG_0001.CR2"));
    // Newer than the RAW file and a real JPEG, but not ours.
    const auto foreign = cr2::EncodeJpeg(cr2::QuarterPicture(40, 30));
    testutil::WriteFile(dir.file("IMG_0001.CR2.JPG"), foreign);
    const FileId before = Identify(dir.file("IMG_0001.CR2.JPG"));
    ScanAndWait(dir.path());
    EXPECT_TRUE(Same(Identify(dir.file("IMG_0001.CR2.JPG")), before));
    EXPECT_EQ(testutil::ReadFile(dir.file("IMG_0001.CR2.JPG")), foreign);
    ASSERT_TRUE(testutil::WaitFor([this] { return !Boxes.empty(); }));
    EXPECT_NE(Boxes[0].find("IMG_0001.CR2: "), std::string::npos);
}

TEST_F(BrowserTest, TheParallelRawPassShowsItsProgressAndStopsAfterTheFilesInHand) {
    testutil::TempDir dir;
    const int raws = 40;
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(2400, 1600)); // slow enough to catch
    for (int i = 0; i < raws; ++i)
        cr2::WriteCr2(dir.file("IMG_" + std::to_string(1000 + i) + ".CR2"), options);
    auto written = [&] {
        int n = 0;
        for (int i = 0; i < raws; ++i)
            n += testutil::FileExists(dir.file("IMG_" + std::to_string(1000 + i) + ".CR2.JPG"));
        return n;
    };
    Main->SetSelFolder(dir.path());
    Main->BtnRefreshClick();
    EXPECT_EQ(Main->CurrentFileText().toStdString(), " IMG_1000.CR2 (1 of 40)");
    EXPECT_EQ(Main->ProgressMax(), raws);
    // The window takes events while the workers convert: the bar and the name move on.
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ProgressPosition() >= 2; }));
    const int done = Main->ProgressPosition();
    EXPECT_EQ(Main->CurrentFileText().toStdString(), " IMG_" + std::to_string(1000 + done) +
                                                         ".CR2 (" + std::to_string(done + 1) +
                                                         " of 40)");
    Main->BtnStopClick();
    const int writtenAtStop = written();
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    // Each of the (at most one per core) workers finished the file in hand, no more.
    EXPECT_LE(written(), writtenAtStop + int(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_LT(written(), raws);
    EXPECT_EQ(Main->List()->Count(), 0); // a pass cut short lists nothing
    EXPECT_EQ(Status(), " Ready");
}

// The workers finish in any order, so a folder's failures arrive in any order too.
TEST(RawFailureLog, AFolderMeetsASetOfFailuresOnceWhateverTheirOrder) {
    TRawFailureLog log;
    struct Row {
        const char *folder;
        std::vector<std::string> names;
        bool first;
    } rows[] = {
        {"/a", {"x.CR2", "y.CR2"}, true}, {"/a", {"y.CR2", "x.CR2"}, false},
        {"/a", {"x.CR2"}, true},          {"/a", {"x.CR2", "y.CR2", "z.CR2"}, true},
        {"/b", {"y.CR2", "x.CR2"}, true}, {"/b", {"x.CR2", "y.CR2"}, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(log.FirstTime(row.folder, row.names), row.first)
            << row.folder << " " << row.names.front() << " +" << row.names.size() - 1;
}
