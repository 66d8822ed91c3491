// When a RAW file's thumbnail file counts as current.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "Cr2Writer.h"
#include "JpegConv.h"
#include "RawConverter.h"
#include "TestUtil.h"

namespace {

// Sets a file's modification time to sec seconds and nsec nanoseconds.
void SetMtime(const std::string &path, time_t sec, long nsec) {
    const timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

} // namespace

TEST(RawConverterTest, AThumbnailIsCurrentOnlyWhenOursNonEmptyAndNotOlder) {
    testutil::TempDir dir;
    const std::string raw = dir.file("a.CR2"), ours = dir.file("ours.jpg"),
                      foreign = dir.file("foreign.jpg"), empty = dir.file("empty.jpg");
    testutil::WriteFile(raw, std::string("raw bytes"));
    testutil::WriteFile(dir.file("preview.jpg"), cr2::EncodeJpeg(cr2::QuarterPicture(60, 40)));
    MakeThumbnailFile(dir.file("preview.jpg"), ours, 150, 100, clWhite);
    testutil::WriteFile(foreign, cr2::EncodeJpeg(cr2::QuarterPicture(60, 40)));
    testutil::WriteFile(empty, std::string());
    SetMtime(raw, 1'700'000'000, 500);

    const struct {
        const char *What;
        std::string Thumb;
        time_t Sec;
        long Nsec;
        bool Current;
    } rows[] = {
        {"ours, same time", ours, 1'700'000'000, 500, true},
        {"ours, newer", ours, 1'700'000'100, 0, true},
        {"ours, one nanosecond older", ours, 1'700'000'000, 499, false},
        {"ours, a second older", ours, 1'699'999'999, 500, false},
        {"not made by us", foreign, 1'700'000'100, 0, false},
        {"empty", empty, 1'700'000'100, 0, false},
        {"missing", dir.file("missing.jpg"), 0, 0, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.What);
        if (testutil::FileExists(row.Thumb))
            SetMtime(row.Thumb, row.Sec, row.Nsec);
        EXPECT_EQ(ThumbnailIsCurrent(raw, row.Thumb), row.Current);
    }
    EXPECT_FALSE(ThumbnailIsCurrent(dir.file("no.CR2"), ours)); // the RAW file is gone
}
