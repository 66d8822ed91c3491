#include "Trash.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"
#include "FileSystem.h"
#include "Text.h"

namespace {

// The record the trash keeps beside files/NAME: info/NAME.trashinfo.
std::string InfoFileOf(const std::string &inTrash) {
    const std::string files = ExtractFilePath(inTrash);
    const std::string trash = ExtractFilePath(files.substr(0, files.size() - 1));
    return trash + "info/" + ExtractFileName(inTrash) + ".trashinfo";
}

// Back to its place, never over a file that has taken that place since.
bool PutBack(const TTrashedFile &file, int &code) {
    if (::link(file.InTrash.c_str(), file.Original.c_str()) != 0) {
        code = errno;
        // A file system without hard links: rename, having looked that the place is free.
        struct stat st {};
        if (code == EEXIST || ::lstat(file.Original.c_str(), &st) == 0)
            return code = EEXIST, false;
        if (::rename(file.InTrash.c_str(), file.Original.c_str()) != 0)
            return code = errno, false;
    } else {
        ::unlink(file.InTrash.c_str());
    }
    ::unlink(InfoFileOf(file.InTrash).c_str());
    return true;
}

} // namespace

std::vector<TTrashedFile> MoveToTrash(const std::vector<std::string> &files) {
    std::vector<TTrashedFile> moved;
    for (const std::string &path : files) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        QFile file(PathToText(path));
        if (!file.moveToTrash()) {
            const std::string reason = file.errorString().toStdString();
            try {
                RestoreFromTrash(moved);
            } catch (const Exception &) {
                // The first failure is the one to report; what could not go back stays in the
                // trash, where the user finds it.
            }
            throw Exception(ExtractFileName(path) + " could not be moved to the trash (" + reason +
                            "). It is still in " + ExtractFilePath(path) + ".");
        }
        // The file object now names the file in the trash.
        moved.push_back({path, TextToPath(file.fileName())});
    }
    return moved;
}

void RestoreFromTrash(const std::vector<TTrashedFile> &files) {
    std::string failed;
    int failedCode = 0;
    // The last moved first, so a failed move's partial set is unwound in reverse.
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        int code = 0;
        if (!PutBack(*it, code) && failed.empty()) {
            failed = it->Original;
            failedCode = code;
        }
    }
    if (!failed.empty())
        throw Exception(ExtractFileName(failed) + " could not be restored from the trash (" +
                        std::strerror(failedCode) + "); it is still in the trash.");
}
