// The shooting information of the sample pictures against what the exiv2 program prints for
// them: the same value for each field wherever exiv2 has one.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include "DecodeSandbox.h"
#include "MetaTestUtil.h"
#include "ShootingInfo.h"
#include "TestUtil.h"

namespace {

struct Field {
    const char *Name;
    std::string ShootingInfo::*Member;
    std::vector<const char *> Keys; // the EXIF tags that hold it, the standard one first
};

const Field Fields[] = {
    {"exposure time",
     &ShootingInfo::ExposureTime,
     {"Exif.Photo.ExposureTime", "Exif.Image.ExposureTime"}},
    {"f-number", &ShootingInfo::FNumber, {"Exif.Photo.FNumber", "Exif.Image.FNumber"}},
    {"ISO", &ShootingInfo::Iso, {"Exif.Photo.ISOSpeedRatings", "Exif.Image.ISOSpeedRatings"}},
    {"focal length",
     &ShootingInfo::FocalLength,
     {"Exif.Photo.FocalLength", "Exif.Image.FocalLength"}},
    {"exposure bias",
     &ShootingInfo::ExposureBias,
     {"Exif.Photo.ExposureBiasValue", "Exif.Image.ExposureBiasValue"}},
    {"date taken",
     &ShootingInfo::DateTaken,
     {"Exif.Photo.DateTimeOriginal", "Exif.Image.DateTimeOriginal"}},
    {"lens", &ShootingInfo::Lens, {"Exif.Photo.LensModel"}},
};

// A value exiv2 prints but cannot name: "(65535)", "n/a".
bool Named(const std::string &value) {
    return !value.empty() && value != "n/a" && value.front() != '(';
}

std::vector<std::string> Samples(const char *folder) {
    std::vector<std::string> files;
    const std::string path = testutil::Sample(folder);
    if (DIR *dir = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(dir))
            if (e->d_name[0] != '.')
                files.push_back(path + "/" + e->d_name);
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(ShootingInfoTest, EveryFieldOfEverySampleMatchesTheExiv2Program) {
    PIXAVANT_REQUIRE_SAMPLES();
    int compared = 0, cameras = 0;
    for (const char *folder : {"raw", "jpg"}) {
        for (const std::string &file : Samples(folder)) {
            const auto printed = metatest::Exiv2Values("-pt", file);
            const ShootingInfo info = ReadShootingInfo(file);
            for (const Field &field : Fields) {
                for (const char *key : field.Keys) {
                    const auto found = printed.find(key);
                    if (found == printed.end())
                        continue;
                    if (Named(found->second)) {
                        EXPECT_EQ(info.*field.Member, found->second) << file << ": " << field.Name;
                        ++compared;
                    }
                    break;
                }
            }
            // The camera names the model as the camera wrote it.
            if (const auto model = printed.find("Exif.Image.Model");
                model != printed.end() && !model->second.empty()) {
                EXPECT_NE(info.Camera.find(model->second), std::string::npos)
                    << file << ": " << info.Camera;
                ++cameras;
            }
            struct stat st {};
            ::stat(file.c_str(), &st);
            EXPECT_EQ(info.FileSize, st.st_size) << file;
        }
    }
    // Not a vacuous pass: the samples hold dozens of these fields.
    EXPECT_GT(compared, 150);
    EXPECT_GT(cameras, 30);
}

TEST(ShootingInfoTest, FilesThatAreNoPictureGiveNothingAndNoError) {
    PIXAVANT_REQUIRE_SAMPLES();
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("empty.CR2"), "");
    testutil::WriteFile(dir.file("text.jpg"), "not a picture at all");
    for (const std::string &file : Samples("odd"))
        ReadShootingInfo(file); // must neither crash nor hang
    for (const char *name : {"empty.CR2", "text.jpg"}) {
        const ShootingInfo info = ReadShootingInfo(dir.file(name));
        EXPECT_TRUE(info.Camera.empty() && info.ExposureTime.empty() && info.Width == 0) << name;
    }
    EXPECT_EQ(ReadShootingInfo(dir.file("missing.jpg")).FileSize, -1);
}

TEST(ShootingInfoTest, ARawFileExiv2CannotReadTakesLibRawsValues) {
    PIXAVANT_REQUIRE_SAMPLES();
    // exiv2 finds no EXIF in this CR3; the values are those LibRaw's raw-identify -v prints.
    // Both libraries read it in the decoding helper.
    const std::uint64_t before = DecodesRun();
    const ShootingInfo info = ReadShootingInfo(testutil::Sample("raw/exiftool_CanonRaw.cr3"));
    EXPECT_EQ(DecodesRun(), before + 1);
    EXPECT_EQ(info.Camera, "Canon EOS M50");
    EXPECT_EQ(info.Lens, "EF-M15-45mm f/3.5-6.3 IS STM");
    EXPECT_EQ(info.ExposureTime, "1/80 s");
    EXPECT_EQ(info.FNumber, "F3.5");
    EXPECT_EQ(info.Iso, "12800");
    EXPECT_EQ(info.FocalLength, "15.0 mm");
    EXPECT_EQ(info.Width, 6024);
    EXPECT_EQ(info.Height, 4020);
    EXPECT_EQ(info.DateTaken.size(), std::string("2018:07:21 12:00:00").size()); // local time
}
