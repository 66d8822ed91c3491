// Files that go to the desktop's trash together and come back together.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>

#include <cstdlib>

#include "Exceptions.h"
#include "TestUtil.h"
#include "Trash.h"

namespace {

class TrashTest : public ::testing::Test {
protected:
    // The home's trash takes files of the home's file system: both live beside the files.
    void SetUp() override {
        for (const char *var : {"XDG_DATA_HOME", "HOME"}) {
            const char *old = std::getenv(var);
            FOld.emplace_back(var, old ? old : "");
            setenv(var, FData.path().c_str(), 1);
        }
    }
    void TearDown() override {
        for (const auto &[var, value] : FOld)
            if (value.empty())
                unsetenv(var);
            else
                setenv(var, value.c_str(), 1);
    }
    std::vector<std::string> InTrash(const char *sub) const {
        std::vector<std::string> names;
        if (DIR *dir = ::opendir((FData.path() + "/Trash/" + sub).c_str())) {
            while (dirent *e = ::readdir(dir))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    testutil::TempDir FData;
    testutil::TempDir FFolder;
    std::vector<std::pair<const char *, std::string>> FOld;
};

} // namespace

TEST_F(TrashTest, FilesGoWithTheirRecordsAndComeBackAsTheyWere) {
    const std::vector<std::string> files = {FFolder.file("a.CR2"), FFolder.file("a.CR2.JPG"),
                                            FFolder.file("a.xmp"), FFolder.file("none.xmp")};
    for (std::size_t i = 0; i < 3; ++i)
        testutil::WriteFile(files[i], "file " + std::to_string(i));
    const std::vector<TTrashedFile> trashed = MoveToTrash(files);
    ASSERT_EQ(trashed.size(), 3u); // the missing sidecar is left out
    EXPECT_EQ(InTrash("files"), (std::vector<std::string>{"a.CR2", "a.CR2.JPG", "a.xmp"}));
    EXPECT_EQ(InTrash("info"), (std::vector<std::string>{"a.CR2.JPG.trashinfo", "a.CR2.trashinfo",
                                                         "a.xmp.trashinfo"}));
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(testutil::FileExists(files[i]));

    RestoreFromTrash(trashed);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto bytes = testutil::ReadFile(files[i]);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "file " + std::to_string(i));
    }
    EXPECT_TRUE(InTrash("files").empty());
    EXPECT_TRUE(InTrash("info").empty());
}

TEST_F(TrashTest, AFileThatCannotGoKeepsTheWholeSetInPlace) {
    testutil::SmallFileSystem card(1 << 20);
    if (!card.Mounted())
        GTEST_SKIP() << "no right to mount a file system";
    testutil::WriteFile(FFolder.file("a.CR2"), "raw");
    testutil::WriteFile(card.file("a.xmp"), "xmp");
    ASSERT_EQ(::mount(nullptr, card.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    try {
        MoveToTrash({FFolder.file("a.CR2"), card.file("a.xmp")});
        ADD_FAILURE() << "moved";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message().rfind("a.xmp could not be moved to the trash", 0), 0u) << e.Message();
    }
    ::mount(nullptr, card.path().c_str(), nullptr, MS_REMOUNT, nullptr);
    EXPECT_TRUE(testutil::FileExists(FFolder.file("a.CR2")));
    EXPECT_TRUE(testutil::FileExists(card.file("a.xmp")));
    EXPECT_TRUE(InTrash("files").empty());
}

TEST_F(TrashTest, APlaceTakenAgainIsNeverOverwritten) {
    testutil::WriteFile(FFolder.file("a.JPG"), "old");
    testutil::WriteFile(FFolder.file("a.JPG.xmp"), "sidecar");
    const auto trashed = MoveToTrash({FFolder.file("a.JPG"), FFolder.file("a.JPG.xmp")});
    testutil::WriteFile(FFolder.file("a.JPG"), "new");
    EXPECT_THROW(RestoreFromTrash(trashed), Exception);
    const auto bytes = testutil::ReadFile(FFolder.file("a.JPG"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
    EXPECT_TRUE(testutil::FileExists(FFolder.file("a.JPG.xmp")));
    EXPECT_EQ(InTrash("files"), std::vector<std::string>{"a.JPG"});
}
