// The per-user temporary folder must be ours: never a link, never someone else's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
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
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(TempPreviewPath(TempPreview::Scan), folder + "/tmp/thumb." + pid + ".0.tmp.jpg");
    EXPECT_EQ(TempPreviewPath(TempPreview::Scan, 3), folder + "/tmp/thumb." + pid + ".3.tmp.jpg");
    EXPECT_EQ(TempPreviewPath(TempPreview::Viewer), folder + "/thumb." + pid + ".0.tmp.jpg");
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
    EXPECT_EQ(TempPreviewPath(TempPreview::Scan),
              folder + "/tmp/thumb." + std::to_string(::getpid()) + ".0.tmp.jpg");

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

TEST(TempFolder, AnotherInstanceNeverGetsOurPreviewName) {
    testutil::TempDir dir;
    RuntimeDir env(dir.path());
    const std::string ours = TempPreviewPath(TempPreview::Scan);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string theirs = TempPreviewPath(TempPreview::Scan);
        (void)!::write(pipeFds[1], theirs.data(), theirs.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(buffer, std::size_t(n)), ours);
}

TEST(TempFolder, StartUpRemovesOnlyThePreviewsOfProcessesThatAreGone) {
    testutil::TempDir dir;
    RuntimeDir env(dir.path());
    const std::string folder = PixavantTempFolder();
    TempPreviewPath(TempPreview::Scan);
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const std::string dead = std::to_string(gone), self = std::to_string(::getpid());

    struct Row {
        std::string name;
        bool removed;
    };
    const Row rows[] = {
        {"thumb." + dead + ".0.tmp.jpg", true},
        {"tmp/thumb." + dead + ".0.tmp.jpg", true},
        {"tmp/thumb." + dead + ".7.tmp.jpg", true},
        {"thumb." + self + ".0.tmp.jpg", false},     // this process
        {"tmp/thumb." + self + ".1.tmp.jpg", false}, // this process, another worker
        {"thumb.1.0.tmp.jpg", false},                // a process that runs (or that we may not ask)
        {"thumb.tmp.jpg", false},                    // not a name we give
        {"thumb." + dead + ".tmp.jpg", false},
        {"thumb." + dead + ".x.tmp.jpg", false},
        {"thumb." + dead + ".0.tmp.jpg.keep", false},
        {"notes.txt", false},
    };
    for (const Row &row : rows)
        testutil::WriteFile(folder + "/" + row.name, "x");
    RemoveStaleTempPreviews();
    for (const Row &row : rows)
        EXPECT_EQ(testutil::FileExists(folder + "/" + row.name), !row.removed) << row.name;
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
