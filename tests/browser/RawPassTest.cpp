// The RAW pass on real folders: every camera's RAW files get their thumbnail files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <set>
#include <sys/stat.h>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
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
