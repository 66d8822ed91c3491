#include "TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"

namespace {

// Creates one folder level with mode 0700 (when missing) and checks that it is a real folder
// of ours that nobody else can write to.
void EnsurePrivateFolder(const std::string &path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
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
