// Folders deleted or renamed outside: the tree reads them again.
#include <gtest/gtest.h>

#include <QDir>

#include <cstdio>
#include <sys/stat.h>

#include "FileSystem.h"
#include "FolderTreeModel.h"
#include "TestUtil.h"

namespace {

void RemoveTree(const std::string &path) {
    QDir(QString::fromStdString(path)).removeRecursively();
}

TEST(FolderTreeModelRefresh, GoneFoldersLeaveNewOnesJoinAndTheRestKeepTheirRows) {
    testutil::TempDir root;
    const auto make = [&](const std::string &name) {
        ASSERT_EQ(::mkdir(root.file(name).c_str(), 0755), 0) << name;
    };
    for (const char *name : {"A", "A/sub", "B", "P", "P/Q", ".hidden"})
        make(name);
    TFolderTreeModel model;
    const QModelIndex sub = model.IndexOf(root.file("A/sub"));
    ASSERT_TRUE(sub.isValid());
    ASSERT_TRUE(model.IndexOf(root.file(".hidden")).isValid()); // joins though not listed
    ASSERT_TRUE(model.IndexOf(root.file("P/Q")).isValid());
    const QPersistentModelIndex kept(sub);

    const auto rows = [&] {
        std::vector<std::string> names;
        const QModelIndex parent = model.IndexOf(root.path());
        for (int row = 0; row < model.rowCount(parent); ++row)
            names.push_back(ExtractFileName(model.PathOf(model.index(row, 0, parent))));
        return names;
    };
    ASSERT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "B", "P"}));

    // B deleted, P renamed (its subfolder goes with it), a folder made: the deepest folder on
    // the way to the one gone that still exists is read again.
    RemoveTree(root.file("B"));
    ASSERT_EQ(std::rename(root.file("P").c_str(), root.file("O").c_str()), 0);
    make("C");
    model.Refresh(root.file("P/Q"));
    EXPECT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "C", "O"}));
    EXPECT_TRUE(kept.isValid());
    EXPECT_EQ(model.PathOf(kept), root.file("A/sub"));
    EXPECT_FALSE(model.Changing());

    // Nothing on the way gone: the tree stays as it is.
    model.Refresh(root.file("A/sub"));
    EXPECT_EQ(rows(), (std::vector<std::string>{".hidden", "A", "C", "O"}));
}

} // namespace
