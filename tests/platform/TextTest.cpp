// File-name bytes shown as text and back.
#include <gtest/gtest.h>

#include "Text.h"

TEST(Text, NamesRoundTripThroughTheirDisplayForm) {
    struct Row {
        const char *bytes;
        const char16_t *text;
    } rows[] = {
        {"IMG_0001.CR2", u"IMG_0001.CR2"},
        {"caf\xc3\xa9/\xe5\x86\x99\xe7\x9c\x9f.jpg", u"café/写真.jpg"},
        {"", u""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(PathToText(row.bytes), QString::fromUtf16(row.text));
        EXPECT_EQ(TextToPath(QString::fromUtf16(row.text)), std::string(row.bytes));
    }
}

TEST(Text, BytesThatAreNoTextStillShowSomething) {
    // Latin-1 "é" is not UTF-8: shown as a replacement character, never dropped or cut off.
    const QString shown = PathToText(std::string_view("caf\xe9.jpg"));
    EXPECT_EQ(shown.size(), 8);
    EXPECT_TRUE(shown.startsWith("caf"));
    EXPECT_TRUE(shown.endsWith(".jpg"));
}

TEST(Text, TakesOnlyTheBytesOfTheView) {
    const std::string_view name("photo.jpg.bak", 9);
    EXPECT_EQ(PathToText(name), QString("photo.jpg"));
}
