#include "FolderTreeModel.h"

#include <QFile>
#include <QFileIconProvider>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"

struct TFolderTreeModel::TNode {
    std::string Name; // as the file system has it
    std::string Path;
    TNode *Parent = nullptr;
    int Row = 0;
    bool Loaded = false;
    std::vector<std::unique_ptr<TNode>> Children;
};

namespace {

// The subfolders of path, hidden ones left out as the shell's tree does, in search order.
std::vector<std::string> SubFolders(const std::string &path) {
    std::vector<std::string> names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        struct stat st;
        if (::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), SearchOrderLess);
    return names;
}

// Counts the model's own row changes for as long as it lives.
class TChanging {
public:
    explicit TChanging(int &depth) : FDepth(depth) { ++FDepth; }
    ~TChanging() { --FDepth; }
    TChanging(const TChanging &) = delete;
    TChanging &operator=(const TChanging &) = delete;

private:
    int &FDepth;
};

} // namespace

bool IsFolder(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TFolderTreeModel::TFolderTreeModel(QObject *parent)
    : QAbstractItemModel(parent), FRoot(std::make_unique<TNode>()) {
    FRoot->Loaded = true;
    auto top = std::make_unique<TNode>();
    top->Name = "/";
    top->Path = "/";
    top->Parent = FRoot.get();
    FRoot->Children.push_back(std::move(top));
    FFolderIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
}

TFolderTreeModel::~TFolderTreeModel() = default;

TFolderTreeModel::TNode *TFolderTreeModel::NodeOf(const QModelIndex &index) const {
    return index.isValid() ? static_cast<TNode *>(index.internalPointer()) : FRoot.get();
}

QModelIndex TFolderTreeModel::IndexOfNode(const TNode *node) const {
    if (!node || node == FRoot.get())
        return {};
    return createIndex(node->Row, 0, const_cast<TNode *>(node));
}

QModelIndex TFolderTreeModel::index(int row, int column, const QModelIndex &parent) const {
    const TNode *node = NodeOf(parent);
    if (column != 0 || row < 0 || row >= int(node->Children.size()))
        return {};
    return createIndex(row, 0, node->Children[std::size_t(row)].get());
}

QModelIndex TFolderTreeModel::parent(const QModelIndex &child) const {
    if (!child.isValid())
        return {};
    return IndexOfNode(NodeOf(child)->Parent);
}

int TFolderTreeModel::rowCount(const QModelIndex &parent) const {
    if (parent.column() > 0)
        return 0;
    return int(NodeOf(parent)->Children.size());
}

int TFolderTreeModel::columnCount(const QModelIndex &) const {
    return 1;
}

QVariant TFolderTreeModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return {};
    const TNode *node = NodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QFile::decodeName(QByteArray::fromStdString(node->Name));
    case Qt::DecorationRole:
        return FFolderIcon;
    default:
        return {};
    }
}

bool TFolderTreeModel::hasChildren(const QModelIndex &parent) const {
    const TNode *node = NodeOf(parent);
    // Unread folders offer to expand; reading every folder shown to know would be slow.
    return !node->Loaded || !node->Children.empty();
}

bool TFolderTreeModel::canFetchMore(const QModelIndex &parent) const {
    return !NodeOf(parent)->Loaded;
}

void TFolderTreeModel::fetchMore(const QModelIndex &parent) {
    Load(NodeOf(parent));
}

void TFolderTreeModel::Load(TNode *node) {
    if (node->Loaded)
        return;
    node->Loaded = true;
    const std::vector<std::string> names = SubFolders(node->Path);
    if (names.empty()) {
        // The expand button goes.
        const QModelIndex index = IndexOfNode(node);
        emit dataChanged(index, index);
        return;
    }
    TChanging changing(FChanging);
    beginInsertRows(IndexOfNode(node), 0, int(names.size()) - 1);
    for (const std::string &name : names) {
        auto child = std::make_unique<TNode>();
        child->Name = name;
        child->Path = IncludeTrailingPathDelimiter(node->Path) + name;
        child->Parent = node;
        child->Row = int(node->Children.size());
        node->Children.push_back(std::move(child));
    }
    endInsertRows();
}

QModelIndex TFolderTreeModel::IndexOf(const std::string &path) {
    if (path.empty() || path[0] != '/')
        return {};
    if (!IsFolder(path))
        return {};
    TNode *node = FRoot->Children.front().get();
    std::size_t pos = 1;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == ".")
            continue;
        Load(node);
        TNode *next = nullptr;
        for (const auto &child : node->Children)
            if (child->Name == name)
                next = child.get();
        if (!next) {
            // A hidden folder, or one made after its parent was read: added where it sorts.
            if (name == "..")
                return {};
            next = InsertChild(node, name);
        }
        node = next;
    }
    return IndexOfNode(node);
}

TFolderTreeModel::TNode *TFolderTreeModel::InsertChild(TNode *node, const std::string &name) {
    auto child = std::make_unique<TNode>();
    child->Name = name;
    child->Path = IncludeTrailingPathDelimiter(node->Path) + name;
    child->Parent = node;
    auto at = std::lower_bound(node->Children.begin(), node->Children.end(), name,
                               [](const std::unique_ptr<TNode> &n, const std::string &s) {
                                   return SearchOrderLess(n->Name, s);
                               });
    const int row = int(at - node->Children.begin());
    TChanging changing(FChanging);
    beginInsertRows(IndexOfNode(node), row, row);
    TNode *added = child.get();
    node->Children.insert(at, std::move(child));
    for (std::size_t i = std::size_t(row); i < node->Children.size(); ++i)
        node->Children[i]->Row = int(i);
    endInsertRows();
    return added;
}

void TFolderTreeModel::Refresh(const std::string &path) {
    if (path.empty() || path[0] != '/')
        return;
    TNode *deepest = nullptr;
    TNode *node = FRoot->Children.front().get();
    std::size_t pos = 1;
    while (node && node->Loaded && IsFolder(node->Path)) {
        deepest = node;
        std::string name;
        while (pos < path.size() && (name.empty() || name == ".")) {
            std::size_t end = path.find('/', pos);
            if (end == std::string::npos)
                end = path.size();
            name = path.substr(pos, end - pos);
            pos = end + 1;
        }
        if (name.empty() || name == ".")
            break;
        TNode *next = nullptr;
        for (const auto &child : node->Children)
            if (child->Name == name)
                next = child.get();
        node = next;
    }
    if (deepest)
        Reread(deepest);
}

void TFolderTreeModel::Reread(TNode *node) {
    const QModelIndex parent = IndexOfNode(node);
    const bool had = !node->Children.empty();
    // A child goes only when its folder is gone: hidden folders that IndexOf added are not in
    // the listing, yet stay.
    for (int row = int(node->Children.size()) - 1; row >= 0; --row) {
        if (IsFolder(node->Children[std::size_t(row)]->Path))
            continue;
        TChanging changing(FChanging);
        beginRemoveRows(parent, row, row);
        node->Children.erase(node->Children.begin() + row);
        for (std::size_t i = std::size_t(row); i < node->Children.size(); ++i)
            node->Children[i]->Row = int(i);
        endRemoveRows();
    }
    for (const std::string &name : SubFolders(node->Path)) {
        const bool known =
            std::any_of(node->Children.begin(), node->Children.end(),
                        [&](const std::unique_ptr<TNode> &n) { return n->Name == name; });
        if (!known)
            InsertChild(node, name);
    }
    if (had && node->Children.empty())
        emit dataChanged(parent, parent); // the expand button goes
}

std::string TFolderTreeModel::PathOf(const QModelIndex &index) const {
    return index.isValid() ? NodeOf(index)->Path : std::string();
}
