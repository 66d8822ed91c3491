// Watches the folder on show and every folder above it, and tells when that folder has gone:
// deleted, or renamed with any folder above it. Other changes in those folders are not told.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QFileSystemWatcher;

class TFolderWatch {
public:
    // onGone runs on the GUI thread, with the folder, when a change leaves it gone.
    explicit TFolderWatch(std::function<void(const std::string &folder)> onGone);
    ~TFolderWatch();

    // Watches folder from now on, in place of the one before. A folder gone already is watched
    // for nothing: Gone() tells.
    void Watch(const std::string &folder);
    // Watches nothing more; the folder is still remembered.
    void Unwatch();
    const std::string &Folder() const { return FFolder; }
    // True when a folder was given and it is no folder now.
    bool Gone() const;

private:
    std::function<void(const std::string &)> FOnGone;
    std::unique_ptr<QFileSystemWatcher> FWatcher;
    std::string FFolder;
};
