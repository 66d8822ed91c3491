#include "TempFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"

namespace {

// Creates the missing levels above path, each with mode 0700; levels that exist are left as
// they are. A runtime folder whose parent is gone must not fail every RAW file.
void CreateMissingParents(const std::string &path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            throw Exception("Cannot create the temporary folder \"" + level +
                            "\": " + std::strerror(errno));
    }
}

// Creates the folder with mode 0700 (and any missing level above it) and checks that the
// folder itself is a real folder of ours that nobody else can write to.
void EnsurePrivateFolder(const std::string &path) {
    int made = ::mkdir(path.c_str(), 0700);
    if (made != 0 && errno == ENOENT) {
        CreateMissingParents(path);
        made = ::mkdir(path.c_str(), 0700);
    }
    if (made != 0 && errno != EEXIST)
        throw Exception("Cannot create the temporary folder \"" + path +
                        "\": " + std::strerror(errno));
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        throw Exception("Cannot use the temporary folder \"" + path +
                        "\": " + std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        throw Exception("The temporary folder \"" + path +
                        "\" is a symbolic link; refusing to use it");
    if (!S_ISDIR(st.st_mode))
        throw Exception("The temporary folder \"" + path + "\" is not a folder");
    if (st.st_uid != ::geteuid())
        throw Exception("The temporary folder \"" + path +
                        "\" belongs to another user; refusing to use it");
    if ((st.st_mode & 0077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        throw Exception("Cannot make the temporary folder \"" + path + "\" private");
}

// The process id in a preview file's name "thumb.<pid>.<worker>.tmp.jpg", or 0 when the name is
// not one of ours.
pid_t PreviewOwner(const std::string &name) {
    const std::string prefix = "thumb.", suffix = ".tmp.jpg";
    if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const auto dot = middle.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == middle.size() || dot > 9)
        return 0;
    for (std::size_t i = 0; i < middle.size(); ++i)
        if (i != dot && (middle[i] < '0' || middle[i] > '9'))
            return 0;
    return pid_t(std::stol(middle.substr(0, dot)));
}

void RemoveStaleIn(const std::string &folder) {
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const pid_t self = ::getpid();
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t owner = PreviewOwner(entry->d_name);
        // ESRCH only: a process we may not signal still runs.
        if (owner > 0 && owner != self && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

std::string PixavantTempFolder() {
    std::string folder;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        folder = std::string(runtime) + "/pixavant";
    else
        folder = "/tmp/pixavant-" + std::to_string(::geteuid());
    EnsurePrivateFolder(folder);
    return folder;
}

std::string TempPreviewPath(TempPreview which, int worker) {
    std::string folder = PixavantTempFolder();
    if (which == TempPreview::Scan) {
        folder += "/tmp";
        EnsurePrivateFolder(folder);
    }
    return folder + "/thumb." + std::to_string(::getpid()) + "." + std::to_string(worker) +
           ".tmp.jpg";
}

void RemoveStaleTempPreviews() {
    try {
        const std::string folder = PixavantTempFolder();
        RemoveStaleIn(folder);
        RemoveStaleIn(folder + "/tmp");
    } catch (const std::exception &) {
        // An unusable temporary folder is reported when a preview is first needed.
    }
}
