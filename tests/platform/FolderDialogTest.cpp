// The folder dialog as callers see it: the chosen folder's id list and display name, the
// preselection the callback sends, and a cancel.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "Messages.h"
#include "ShellApi.h"
#include "ShellUi.h"
#include "TestUtil.h"

namespace {

int Preselect(HWND dialog, UINT message, LPARAM, LPARAM folder) {
    if (message == BFFM_INITIALIZED)
        SendMessageA(dialog, BFFM_SETSELECTIONA, 1, folder);
    return 0;
}

} // namespace

TEST(FolderDialog, GivesTheChosenFolderItsNameAndThePreselection) {
    testutil::TempDir dir;
    const std::string photos = dir.file("photos");
    const std::string longLeaf = dir.file(std::string(255, 'n'));
    ASSERT_EQ(::mkdir(photos.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(longLeaf.c_str(), 0700), 0);
    struct Row {
        std::string Chosen;
        std::string DisplayName;
    };
    const Row rows[] = {
        {photos, "photos"},
        {"/", "/"},                        // the root has no last part: it is named as itself
        {longLeaf, std::string(255, 'n')}, // the longest name a folder can have
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Chosen);
        std::string asked;
        auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
            s.BrowseForFolder = [&](const std::string &, const std::string &preselected) {
                asked = preselected;
                return row.Chosen;
            };
        });
        char name[MAX_PATH] = "unchanged";
        const std::string start = dir.path();
        BROWSEINFOA info{};
        info.pszDisplayName = name;
        info.lpszTitle = "Pick";
        info.lpfn = Preselect;
        info.lParam = LPARAM(start.c_str());
        LPITEMIDLIST pidl = SHBrowseForFolderA(&info);
        ASSERT_NE(pidl, nullptr);
        EXPECT_EQ(asked, start);
        EXPECT_EQ(PathFromIDList(pidl), row.Chosen);
        EXPECT_EQ(std::string(name), row.DisplayName);
        ComPtr<IMalloc> malloc;
        ASSERT_TRUE(SUCCEEDED(SHGetMalloc(malloc.Put())));
        malloc->Free(pidl);
    }

    // Cancelled: nothing is returned and the name is left alone.
    auto scope = testutil::ChangeServices([](TPlatformServices &s) {
        s.BrowseForFolder = [](const std::string &, const std::string &) { return std::string(); };
    });
    char name[MAX_PATH] = "unchanged";
    BROWSEINFOA info{};
    info.pszDisplayName = name;
    EXPECT_EQ(SHBrowseForFolderA(&info), nullptr);
    EXPECT_STREQ(name, "unchanged");
}
