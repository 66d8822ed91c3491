#include "TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string TempPreviewPath(TempPreview which) {
    const std::string folder = PixavantTempFolder();
    if (which == TempPreview::Viewer)
        return folder + "/thumb.tmp.jpg";
    EnsurePrivateFolder(folder + "/tmp");
    return folder + "/tmp/thumb.tmp.jpg";
}
