// The header walk the EXIF thumbnail reader and the thumbnail-comment check share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JpegMarkers.h"

namespace {

// The markers visited, each as "XX:payload".
std::vector<std::string> Walk(const std::string &bytes) {
    std::vector<std::string> seen;
    WalkJpegHeader(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(),
                   [&](const JpegSegment &s) {
                       char name[8];
                       std::snprintf(name, sizeof name, "%02X:", s.marker);
                       seen.push_back(name +
                                      std::string(reinterpret_cast<const char *>(s.data), s.size));
                       return false;
                   });
    return seen;
}

} // namespace

TEST(JpegMarkers, VisitsTheHeaderSegmentsOnly) {
    const std::string soi("\xFF\xD8", 2);
    const std::string com("\xFF\xFE\x00\x05"
                          "abc",
                          7);
    const std::string app1("\xFF\xE1\x00\x04"
                           "xy",
                           6);
    const std::string sos("\xFF\xDA\x00\x04"
                          "zz",
                          6);
    struct Row {
        const char *what;
        std::string bytes;
        std::vector<std::string> seen;
    } rows[] = {
        {"two segments, then the scan", soi + com + app1 + sos + com, {"FE:abc", "E1:xy"}},
        {"fill bytes before a marker", soi + std::string("\xFF\xFF", 2) + com, {"FE:abc"}},
        {"a restart marker has no length", soi + std::string("\xFF\xD0", 2) + com, {"FE:abc"}},
        {"a segment cut off by the end", soi + app1 + com.substr(0, 6), {"E1:xy"}},
        {"a length below 2", soi + std::string("\xFF\xFE\x00\x01", 4) + com, {}},
        {"garbage where a marker belongs", soi + "ab" + com, {}},
        {"no SOI", com + app1, {}},
        {"empty", "", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Walk(row.bytes), row.seen);
    }
}

TEST(JpegMarkers, StopsWhenTheVisitorSaysSo) {
    const std::string bytes = std::string("\xFF\xD8", 2) +
                              std::string("\xFF\xFE\x00\x03"
                                          "a",
                                          5) +
                              std::string("\xFF\xFE\x00\x03"
                                          "b",
                                          5);
    int visits = 0;
    const bool stopped = WalkJpegHeader(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                        bytes.size(), [&](const JpegSegment &) {
                                            ++visits;
                                            return true;
                                        });
    EXPECT_TRUE(stopped);
    EXPECT_EQ(visits, 1);
}
