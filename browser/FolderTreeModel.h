// The folder tree's model: the file system's folders under "/", read when a folder is first
// expanded and kept as bytes, so a folder whose name is not UTF-8 is shown (in a readable form)
// and scanned under its exact name. It does not watch the disk: a folder's subfolders are read
// once, like a shell tree with automatic refresh off, and again only when asked (Refresh).
#pragma once

#include <QAbstractItemModel>
#include <QIcon>

#include <memory>
#include <string>
#include <vector>

// True when path names a folder (links followed), as the tree and the scan see it.
bool IsFolder(const std::string &path);

class TFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit TFolderTreeModel(QObject *parent = nullptr);
    ~TFolderTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // The folder's index, reading every level on the way; invalid when path names no folder.
    QModelIndex IndexOf(const std::string &path);
    // The folder's path as bytes; empty for an invalid index.
    std::string PathOf(const QModelIndex &index) const;

    // A folder on the way to path may have gone (deleted or renamed outside): the deepest
    // folder of the tree on that way that still exists reads its subfolders again. Those gone
    // leave the tree, new ones join where they sort, and those kept keep their rows' contents.
    void Refresh(const std::string &path);
    // True while the model adds or removes rows. A view moves its current row by itself when
    // that row goes; such a move is nobody's choice of folder.
    bool Changing() const { return FChanging > 0; }

private:
    struct TNode;
    TNode *NodeOf(const QModelIndex &index) const;
    QModelIndex IndexOfNode(const TNode *node) const;
    void Load(TNode *node);
    void Reread(TNode *node);
    TNode *InsertChild(TNode *node, const std::string &name);

    std::unique_ptr<TNode> FRoot; // invisible; its one child is "/"
    QIcon FFolderIcon;
    int FChanging = 0;
};
