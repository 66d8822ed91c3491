// The per-user temporary folder must be ours: never a link, never someone else's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"
#include "TempFolder.h"
#include "TestUtil.h"

namespace {

class RuntimeDir {
public:
    explicit RuntimeDir(const std::string &path) {
        if (const char *old = std::getenv("XDG_RUNTIME_DIR"))
            FOld = old, FHad = true;
        setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    }
    ~RuntimeDir() {
        if (FHad)
            setenv("XDG_RUNTIME_DIR", FOld.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

private:
    std::string FOld;
    bool FHad = false;
};

} // namespace

TEST(TempFolder, CreatesPrivateFolderAndPreviewPaths) {
    testutil::TempDir dir;
    RuntimeDir env(dir.path());
    const std::string folder = PixavantTempFolder();
    EXPECT_EQ(folder, dir.path() + "/pixavant");
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(TempPreviewPath(TempPreview::Scan), folder + "/tmp/thumb.tmp.jpg");
    EXPECT_EQ(TempPreviewPath(TempPreview::Viewer), folder + "/thumb.tmp.jpg");
    EXPECT_TRUE(testutil::FileExists(folder + "/tmp"));
}

TEST(TempFolder, CreatesEveryMissingLevelPrivately) {
    testutil::TempDir dir;
    RuntimeDir env(dir.file("gone/deeper"));
    const std::string folder = PixavantTempFolder();
    EXPECT_EQ(folder, dir.path() + "/gone/deeper/pixavant");
    for (const std::string &level : {dir.file("gone"), dir.file("gone/deeper"), folder}) {
        struct stat st;
        ASSERT_EQ(::lstat(level.c_str(), &st), 0) << level;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << level;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << level;
    }
    EXPECT_EQ(TempPreviewPath(TempPreview::Scan), folder + "/tmp/thumb.tmp.jpg");

    // A level that is a file cannot be made into a folder: a clear error, not a crash.
    testutil::WriteFile(dir.file("file"), std::string("x"));
    RuntimeDir blocked(dir.file("file/below"));
    try {
        PixavantTempFolder();
        FAIL() << "a folder under a file was accepted";
    } catch (const Exception &e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create the temporary folder"),
                  std::string::npos);
    }
}

TEST(TempFolder, RefusesSymbolicLink) {
    testutil::TempDir dir;
    testutil::TempDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), dir.file("pixavant").c_str()), 0);
    RuntimeDir env(dir.path());
    EXPECT_THROW(PixavantTempFolder(), Exception);
    EXPECT_THROW(TempPreviewPath(TempPreview::Scan), Exception);
}

TEST(TempFolder, RefusesFolderOfAnotherUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder away";
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pixavant").c_str(), 0700), 0);
    ASSERT_EQ(::chown(dir.file("pixavant").c_str(), 65534, 65534), 0);
    RuntimeDir env(dir.path());
    try {
        PixavantTempFolder();
        FAIL() << "a foreign folder was accepted";
    } catch (const Exception &e) {
        EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos);
    }
}

TEST(TempFolder, TightensLooseMode) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pixavant").c_str(), 0777), 0);
    ::chmod(dir.file("pixavant").c_str(), 0777);
    RuntimeDir env(dir.path());
    PixavantTempFolder();
    struct stat st;
    ASSERT_EQ(::stat(dir.file("pixavant").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
