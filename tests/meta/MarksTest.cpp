// Marks in XMP sidecars: the names, the keys, and the write that other programs' properties
// survive, checked with the exiv2 program as another photo program would read the files.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Cr2Writer.h"
#include "Exceptions.h"
#include "Marks.h"
#include "MetaTestUtil.h"
#include "TestUtil.h"

namespace {

// A sidecar as Lightroom leaves one: a rating, keywords, develop settings and a history.
const char *const OtherProgramsSidecar = R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:crs="http://ns.adobe.com/camera-raw-settings/1.0/"
    xmlns:xmpMM="http://ns.adobe.com/xap/1.0/mm/"
    xmlns:stEvt="http://ns.adobe.com/xap/1.0/sType/ResourceEvent#"
    xmlns:lr="http://ns.adobe.com/lightroom/1.0/"
    xmp:Rating="1"
    crs:Exposure2012="+0.35"
    crs:WhiteBalance="As Shot">
   <dc:subject><rdf:Bag><rdf:li>fjord</rdf:li><rdf:li>dusk</rdf:li></rdf:Bag></dc:subject>
   <lr:hierarchicalSubject><rdf:Bag><rdf:li>Places|Norway|fjord</rdf:li></rdf:Bag></lr:hierarchicalSubject>
   <xmpMM:History><rdf:Seq>
    <rdf:li stEvt:action="saved" stEvt:when="2024-05-01T10:00:00+02:00" stEvt:softwareAgent="Adobe Photoshop Lightroom Classic 13.0"/>
   </rdf:Seq></xmpMM:History>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
)";

std::map<std::string, std::string> WithoutMarks(std::map<std::string, std::string> values) {
    values.erase("Xmp.xmp.Rating");
    values.erase("Xmp.xmp.Label");
    return values;
}

std::vector<std::string> FolderNames(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (dirent *e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(MarksTest, SidecarNamesFollowLightroomForRawAndDarktableForOtherPictures) {
    const std::pair<const char *, const char *> rows[] = {
        {"/p/IMG_0001.CR2", "/p/IMG_0001.xmp"}, {"/p/dsc_1.nef", "/p/dsc_1.xmp"},
        {"/p/a.b/x.Pef", "/p/a.b/x.xmp"},       {"/p/IMG_0001.JPG", "/p/IMG_0001.JPG.xmp"},
        {"/p/scan.tif", "/p/scan.tif.xmp"},
    };
    for (const auto &[picture, sidecar] : rows)
        EXPECT_EQ(SidecarFor(picture), sidecar) << picture;
}

TEST(MarksTest, KeysSetStarsRejectAndToggleTheLabel) {
    struct Row {
        char key;
        TMarks after;
    };
    // Each key applied to the marks the row before left.
    const Row rows[] = {{'3', {3, ""}},       {'6', {3, "Red"}},  {'6', {3, ""}},
                        {'7', {3, "Yellow"}}, {'9', {3, "Blue"}}, {'X', {-1, "Blue"}},
                        {'0', {0, "Blue"}},   {'5', {5, "Blue"}}, {'8', {5, "Green"}}};
    TMarks marks;
    for (const Row &row : rows) {
        EXPECT_TRUE(ApplyMarkKey(marks, row.key)) << row.key;
        EXPECT_EQ(marks, row.after) << row.key;
    }
    EXPECT_FALSE(ApplyMarkKey(marks, 'a'));
    EXPECT_EQ(marks, (TMarks{5, "Green"}));
}

TEST(MarksTest, AWriteKeepsEveryPropertyOfAnotherProgramAndTheFilesMode) {
    testutil::TempDir dir;
    const std::string raw = dir.file("IMG_0001.CR2");
    const std::string sidecar = dir.file("IMG_0001.xmp");
    testutil::WriteFile(raw, "raw");
    testutil::WriteFile(sidecar, OtherProgramsSidecar);
    ::chmod(sidecar.c_str(), 0640);
    struct stat before {};
    ::stat(sidecar.c_str(), &before);
    const auto original = metatest::Exiv2Values("-px", sidecar);
    ASSERT_EQ(original.at("Xmp.dc.subject"), "fjord, dusk");

    WriteMarks(raw, {3, "Red"});

    const auto written = metatest::Exiv2Values("-px", sidecar);
    EXPECT_EQ(written.at("Xmp.xmp.Rating"), "3");
    EXPECT_EQ(written.at("Xmp.xmp.Label"), "Red");
    EXPECT_EQ(WithoutMarks(written), WithoutMarks(original));
    struct stat after {};
    ::stat(sidecar.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino) << "written in place, not renamed over";
    EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"IMG_0001.CR2", "IMG_0001.xmp"}));
    EXPECT_EQ(ReadMarks(raw), (TMarks{3, "Red"}));

    // Clearing the label takes the property away; the rest stays.
    WriteMarks(raw, {3, ""});
    const auto cleared = metatest::Exiv2Values("-px", sidecar);
    EXPECT_EQ(cleared.count("Xmp.xmp.Label"), 0u);
    EXPECT_EQ(WithoutMarks(cleared), WithoutMarks(original));
}

TEST(MarksTest, ANewSidecarIsAnOrdinaryFileOfTheUser) {
    testutil::TempDir dir;
    const std::string jpeg = dir.file("photo.JPG");
    testutil::WriteFile(jpeg, "jpeg");
    const mode_t old = ::umask(027);
    WriteMarks(jpeg, {-1, ""});
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("photo.JPG.xmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(metatest::Exiv2Values("-px", dir.file("photo.JPG.xmp")).at("Xmp.xmp.Rating"), "-1");
    EXPECT_EQ(testutil::ReadFile(jpeg), (std::vector<std::uint8_t>{'j', 'p', 'e', 'g'}));
}

TEST(MarksTest, ASidecarThatCannotBeMergedIsLeftAsItIs) {
    testutil::TempDir dir;
    const std::string jpeg = dir.file("a.jpg");
    testutil::WriteFile(jpeg, "jpeg");
    const std::string broken = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF";
    testutil::WriteFile(dir.file("a.jpg.xmp"), broken);
    testutil::WriteFile(dir.file("real.xmp"), OtherProgramsSidecar);
    ::symlink("real.xmp", dir.file("b.jpg.xmp").c_str());
    for (const char *picture : {"a.jpg", "b.jpg"}) {
        try {
            WriteMarks(dir.file(picture), {4, ""});
            ADD_FAILURE() << picture << " written";
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(picture), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("Nothing was changed"), std::string::npos) << e.Message();
        }
    }
    const auto bytes = testutil::ReadFile(dir.file("a.jpg.xmp"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), broken);
    struct stat st {};
    EXPECT_TRUE(::lstat(dir.file("b.jpg.xmp").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{"a.jpg", "a.jpg.xmp", "b.jpg.xmp", "real.xmp"}));
}

TEST(MarksTest, AReadOnlyFolderGivesAClearMessage) {
    testutil::SmallFileSystem card(1 << 20);
    if (!card.Mounted())
        GTEST_SKIP() << "no right to mount a file system";
    testutil::WriteFile(card.file("IMG_0001.CR2"), "raw");
    ASSERT_EQ(::mount(nullptr, card.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    try {
        WriteMarks(card.file("IMG_0001.CR2"), {2, ""});
        ADD_FAILURE() << "written";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "The marks of IMG_0001.CR2 could not be saved: the folder " +
                                   card.path() + "/ cannot be written to. Nothing was changed.");
    }
    ::mount(nullptr, card.path().c_str(), nullptr, MS_REMOUNT, nullptr);
}

TEST(MarksTest, ReadingTakesTheEmbeddedXmpThenTheSidecarsOursLast) {
    testutil::TempDir dir;
    // A JPEG whose own XMP says 2 stars and Purple; the RAW-style NAME.xmp says Green; our
    // NAME.JPG.xmp says 4 stars.
    const std::string jpeg = dir.file("p.JPG");
    testutil::WriteFile(jpeg, cr2::EncodeJpeg(cr2::QuarterPicture(16, 16)));
    metatest::RunExiv2("-M'set Xmp.xmp.Rating 2' -M'set Xmp.xmp.Label Purple'", jpeg);
    ASSERT_EQ(ReadMarks(jpeg), (TMarks{2, "Purple"}));
    testutil::WriteFile(
        dir.file("p.xmp"),
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
        "xmp:Label=\"Green\"/></rdf:RDF></x:xmpmeta>");
    EXPECT_EQ(ReadMarks(jpeg), (TMarks{2, "Green"}));
    WriteMarks(dir.file("q.JPG"), {4, ""});
    ::rename(dir.file("q.JPG.xmp").c_str(), dir.file("p.JPG.xmp").c_str());
    EXPECT_EQ(ReadMarks(jpeg), (TMarks{4, "Green"}));

    // A RAW file: darktable's NAME.EXT.xmp is read, ours (NAME.xmp) wins.
    const std::string raw = dir.file("r.NEF");
    WriteMarks(dir.file("r.NEF.jpg"), {1, "Blue"}); // writes r.NEF.jpg.xmp
    ::rename(dir.file("r.NEF.jpg.xmp").c_str(), dir.file("r.NEF.xmp").c_str());
    EXPECT_EQ(ReadMarks(raw), (TMarks{1, "Blue"}));
    WriteMarks(raw, {5, "Blue"});
    EXPECT_EQ(ReadMarks(raw), (TMarks{5, "Blue"}));
}
