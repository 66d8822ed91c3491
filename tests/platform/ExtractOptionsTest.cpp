#include <gtest/gtest.h>

#include <QCheckBox>

#include "ExtractOptions.h"
#include "Forms.h"
#include "ShellApi.h"

TEST(ExtractOptions, ColourDepthEntriesAreFourToThirtyTwoBits) {
    const struct {
        int Index, Bits;
    } rows[] = {{0, 4}, {1, 8}, {2, 16}, {3, 24}, {4, 32}, {-1, 32}, {9, 32}};
    for (const auto &row : rows)
        EXPECT_EQ(ColorDepthBits(row.Index), row.Bits) << row.Index;
}

TEST(ExtractOptions, CheckedBoxesGiveTheirTagsAndAspectExcludesScreen) {
    QCheckBox aspect, offline, screen, quality, origSize;
    TagOptionBoxes(&aspect, &offline, &screen, &quality, &origSize);
    const struct {
        QCheckBox *Box;
        int Tag;
    } tags[] = {
        {&aspect, 0x4}, {&offline, 0x8}, {&screen, 0x20}, {&quality, 0x200}, {&origSize, 0x40}};
    for (const auto &row : tags)
        EXPECT_EQ(Tag(row.Box), row.Tag);
    EXPECT_EQ(CheckedFlags({&aspect, &offline, &screen}), 0u);

    aspect.setChecked(true);
    offline.setChecked(true);
    EXPECT_EQ(CheckedFlags({&aspect, &offline, &screen, nullptr}), 0x4u | 0x8u);

    screen.setChecked(true);
    ExcludeAspectAndScreen(&screen, &aspect, &screen);
    EXPECT_FALSE(aspect.isChecked());
    EXPECT_TRUE(screen.isChecked());
    aspect.setChecked(true);
    ExcludeAspectAndScreen(&aspect, &aspect, &screen);
    EXPECT_FALSE(screen.isChecked());
    // Unchecking a box touches nothing, and other boxes exclude nothing.
    aspect.setChecked(false);
    screen.setChecked(true);
    ExcludeAspectAndScreen(&aspect, &aspect, &screen);
    ExcludeAspectAndScreen(&offline, &aspect, &screen);
    EXPECT_TRUE(screen.isChecked());
    EXPECT_EQ(CheckedFlags({&aspect, &offline, &screen}), 0x8u | 0x20u);
}
