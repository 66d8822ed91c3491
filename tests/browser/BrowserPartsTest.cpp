// The plain parts the browser window drives: the progress it shows, the report of RAW files
// that got no thumbnail, and the watch on the folder on show.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FolderWatch.h"
#include "RawFailureReport.h"
#include "ScanProgress.h"
#include "TestUtil.h"

TEST(ScanProgress, StaysInRangeAndStepsAsEachPassShowsIt) {
    TScanProgress p;
    p.SetMax(-3);
    EXPECT_EQ(p.Max(), 0);
    p.SetMax(3);
    p.SetPosition(5);
    EXPECT_EQ(p.Position(), 3);
    p.SetMax(2); // a smaller list takes the position with it
    EXPECT_EQ(p.Position(), 2);
    p.SetPosition(-1);
    EXPECT_EQ(p.Position(), 0);
    // The icon pass steps natively: past the maximum it starts from the minimum again.
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        p.Step(i, false);
        seen.push_back(p.Position());
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 1}));
    // The thumbnail pass shows how far down the list the item is.
    p.SetMax(10);
    p.Step(4, true);
    EXPECT_EQ(p.Position(), 5);
    p.Step(20, true);
    EXPECT_EQ(p.Position(), 10);
}

namespace {

// One scan's pass over folder with the failures given; whether the box is due.
bool Pass(TRawFailureReport &r, const std::string &folder, std::vector<std::string> names,
          bool complete = true) {
    r.Begin();
    for (const std::string &name : names)
        r.Failed(name, "broken");
    return r.PassEnded(folder, complete);
}

} // namespace

TEST(RawFailureReport, ABoxForNewFailuresANoteForKnownOnes) {
    TRawFailureReport r;
    EXPECT_FALSE(Pass(r, "/a", {}));
    EXPECT_TRUE(r.TakeBoxText().empty());
    EXPECT_FALSE(Pass(r, "/a", {"x.CR2"}, false)); // cut short: nothing is known, nor kept
    EXPECT_TRUE(r.Note().empty());
    ASSERT_TRUE(Pass(r, "/a", {"x.CR2", "y.CR2"}));
    EXPECT_EQ(r.TakeBoxText(),
              "These RAW files got no new thumbnail:\n\nx.CR2: broken\ny.CR2: broken");
    EXPECT_TRUE(r.TakeBoxText().empty()); // shown once
    EXPECT_TRUE(r.Note().empty());
    EXPECT_FALSE(Pass(r, "/a", {"y.CR2", "x.CR2"}));
    EXPECT_EQ(r.Note(), "2 RAW files got no new thumbnail");
    EXPECT_TRUE(Pass(r, "/b", {"x.CR2", "y.CR2"})); // another folder
    r.Begin();
    EXPECT_TRUE(r.Note().empty());
}

TEST(RawFailureReport, TheBoxNamesTwentyAndCountsTheRest) {
    TRawFailureReport r;
    std::vector<std::string> names;
    for (int i = 0; i < 25; ++i)
        names.push_back("IMG_" + std::to_string(100 + i) + ".CR2");
    ASSERT_TRUE(Pass(r, "/a", names));
    const std::string text = r.TakeBoxText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 20 + 1); // heading, names, rest
    EXPECT_NE(text.find("IMG_119.CR2: broken\n... and 5 more"), std::string::npos);

    // A read-only folder is one line, and a later note counts its files.
    r.Begin();
    r.ReadOnlyFolder("/card", 7);
    ASSERT_TRUE(r.PassEnded("/card", true));
    EXPECT_EQ(r.TakeBoxText(), "These RAW files got no new thumbnail:\n\n/card: the folder is "
                               "read-only, so no thumbnail file can be written beside its RAW "
                               "files");
    r.Begin();
    r.ReadOnlyFolder("/card", 7);
    EXPECT_FALSE(r.PassEnded("/card", true));
    EXPECT_EQ(r.Note(), "7 RAW files got no new thumbnail");
}

TEST(FolderWatch, TellsTheFolderGoneWhenItOrAFolderAboveItIsRenamed) {
    testutil::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.file("a/b/c"));
    std::vector<std::string> gone;
    TFolderWatch watch([&](const std::string &folder) { gone.push_back(folder); });
    watch.Watch(dir.file("a/b/c"));
    EXPECT_FALSE(watch.Gone());
    testutil::WriteFile(dir.file("a/b/c/new.jpg"), std::string("x")); // a change, not a going
    fs::rename(dir.file("a"), dir.file("z"));
    ASSERT_TRUE(testutil::WaitFor([&] { return !gone.empty(); }));
    EXPECT_EQ(gone.front(), dir.file("a/b/c"));
    EXPECT_TRUE(watch.Gone());

    // Unwatched, the folder is still remembered: a scan's end can ask after it.
    fs::create_directories(dir.file("d"));
    watch.Watch(dir.file("d"));
    watch.Unwatch();
    fs::remove(dir.file("d"));
    EXPECT_EQ(watch.Folder(), dir.file("d"));
    EXPECT_TRUE(watch.Gone());
}
