#include "DecoderStamp.h"

#include <QCryptographicHash>
#include <QLibraryInfo>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

#include <Magick++.h>

namespace {

// The folder ImageMagick loads its coder modules (the metafile reader among them) from, as
// the library composes it (its own composing macro is defined only inside it).
std::string MetafileCoderFolder() {
    return MAGICKCORE_LIBRARY_PATH MAGICKCORE_MODULES_BASEDIRNAME "-" MAGICKCORE_ABI_SUFFIX
                                                                  "/coders";
}

// Enough for the font folders of a well-stocked desktop; a deeper or larger tree is cut off
// rather than walked for seconds.
constexpr int MaxDepth = 4;
constexpr std::size_t MaxFolders = 4096;

void AddFolder(const std::string &folder, int depth, std::vector<std::string> &lines) {
    struct stat st;
    if (lines.size() >= MaxFolders || ::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    lines.push_back(folder + '\0' + std::to_string(st.st_mtim.tv_sec) + '.' +
                    std::to_string(st.st_mtim.tv_nsec));
    if (depth >= MaxDepth)
        return;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> children;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN))
            children.push_back(folder + '/' + name);
    }
    ::closedir(dir);
    std::sort(children.begin(), children.end());
    for (const std::string &child : children)
        AddFolder(child, depth + 1, lines);
}

// The folder that variable names, else the one at belowHome in the home folder; then leaf.
std::string UserFolder(const char *variable, const char *belowHome, const char *leaf) {
    const char *value = variable ? std::getenv(variable) : nullptr;
    if (value && value[0] == '/')
        return std::string(value) + leaf;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + belowHome + leaf : std::string();
}

} // namespace

std::string FolderStamp(const std::vector<std::string> &roots) {
    std::vector<std::string> lines;
    for (const std::string &root : roots)
        if (!root.empty())
            AddFolder(root, 0, lines);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const std::string &line : lines) {
        hash.addData(QByteArrayView(line.data(), qsizetype(line.size())));
        hash.addData(QByteArrayView("\n", 1));
    }
    return hash.result().toHex().left(16).toStdString();
}

const std::string &DecoderStamp() {
    // The Qt image plugins, ImageMagick's coder modules, and the fonts that metafile text is
    // drawn with (system-wide and the user's own).
    static const std::string stamp = FolderStamp({
        QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/imageformats",
        MetafileCoderFolder(),
        "/usr/share/fonts",
        "/usr/local/share/fonts",
        UserFolder("XDG_DATA_HOME", "/.local/share", "/fonts"),
        UserFolder(nullptr, "", "/.fonts"),
    });
    return stamp;
}
