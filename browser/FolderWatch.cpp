#include "FolderWatch.h"

#include <QFile>
#include <QFileSystemWatcher>

#include "FileSystem.h"
#include "FolderTreeModel.h"

TFolderWatch::TFolderWatch(std::function<void(const std::string &folder)> onGone)
    : FOnGone(std::move(onGone)), FWatcher(std::make_unique<QFileSystemWatcher>()) {
    // Any change in the watched folders comes here; only the folder's going matters.
    QObject::connect(FWatcher.get(), &QFileSystemWatcher::directoryChanged, FWatcher.get(), [this] {
        if (Gone() && FOnGone)
            FOnGone(FFolder);
    });
}

TFolderWatch::~TFolderWatch() = default;

void TFolderWatch::Watch(const std::string &folder) {
    FFolder = folder;
    Unwatch();
    // The folder and every folder above it: renaming a parent takes the folder away too.
    QStringList paths;
    if (IsFolder(folder))
        for (std::string path = folder; path.size() > 1 && path[0] == '/';
             path = ExtractFileDir(path))
            paths << QFile::decodeName(QByteArray::fromStdString(path));
    if (!paths.isEmpty())
        FWatcher->addPaths(paths);
}

void TFolderWatch::Unwatch() {
    if (!FWatcher->directories().isEmpty())
        FWatcher->removePaths(FWatcher->directories());
}

bool TFolderWatch::Gone() const {
    return !FFolder.empty() && !IsFolder(FFolder);
}
