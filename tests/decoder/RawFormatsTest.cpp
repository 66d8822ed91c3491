// Which file names count as camera RAW files.
#include <gtest/gtest.h>

#include <QDir>

#include <set>

#include "RawFormats.h"
#include "TestUtil.h"

TEST(RawFormatsTest, EveryCameraExtensionInAnyCaseIsRaw) {
    const char *const extensions[] = {"CR2", "CR3", "CRW", "NEF", "NRW", "ARW", "SR2",
                                      "SRF", "DNG", "RAF", "ORF", "RW2", "PEF", "SRW",
                                      "3FR", "ERF", "KDC", "MRW", "RWL", "IIQ", "X3F"};
    EXPECT_EQ(RawExtensions().size(), std::size(extensions));
    for (const char *ext : extensions) {
        const std::string upper = ext;
        std::string lower = upper, mixed = upper;
        for (std::size_t i = 0; i < upper.size(); ++i) {
            lower[i] = char(std::tolower(static_cast<unsigned char>(upper[i])));
            mixed[i] = i % 2 ? lower[i] : upper[i];
        }
        for (const std::string &e : {upper, lower, mixed}) {
            EXPECT_TRUE(IsRawFileName("IMG_0001." + e)) << e;
            EXPECT_TRUE(IsRawFileName("/some/folder/IMG_0001." + e)) << e;
        }
    }
}

TEST(RawFormatsTest, ThumbnailFilesAndLookAlikesAreNotRaw) {
    const struct {
        const char *Name;
        bool Raw;
    } rows[] = {
        {"IMG_0001.CR2.JPG", false}, // our thumbnail file
        {"photo.CR2X", false},       // the whole extension counts
        {"photo.CR", false},
        {"photo.jpg", false},
        {"photo.tif", false},
        {"CR2", false},
        {"", false},
        {"folder.nef/photo", false}, // a dot in the folder is no extension
        {"a.b.c.NeF", true},
        {"A.CR2.CR2", true},
        {".hidden.arw", true},
    };
    for (const auto &row : rows)
        EXPECT_EQ(IsRawFileName(row.Name), row.Raw) << row.Name;
}

TEST(RawFormatsTest, EverySampleRawFileHasARawName) {
    const QDir dir(QString::fromStdString(testutil::Sample("raw")));
    const QStringList names = dir.entryList(QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    std::set<std::string> formats;
    for (const QString &name : names) {
        EXPECT_TRUE(IsRawFileName(name.toStdString())) << name.toStdString();
        formats.insert(name.section('.', -1).toUpper().toStdString());
    }
    // Canon (three kinds), Nikon, Sony, DNG, Fujifilm, Panasonic and Pentax.
    EXPECT_GE(formats.size(), 9u);
}
