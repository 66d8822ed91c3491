#include "ThumbnailCache.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "DecoderStamp.h"
#include "PictureKind.h"

namespace {

constexpr qint64 MaxCacheEntryBytes = 16 << 20;
// The decoders a failure was found with; other programs' keys carry an X- prefix too.
constexpr const char *DecodersKey = "X-Pixavant::Decoders";

std::string Md5Name(const std::string &path) {
    const std::string uri = ThumbnailUri(path);
    return QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5)
               .toHex()
               .toStdString() +
           ".png";
}

// Creates the folder chain below the cache root with mode 0700.
bool MakeFolders(const std::string &folder) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string ThumbnailCacheRoot() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/thumbnails";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/thumbnails";
    return std::string();
}

void WriteThumbnailEntry(const std::string &target, QImage image, const std::string &uri,
                         time_t mtime) {
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos || !MakeFolders(target.substr(0, slash)))
        return;
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return;
    // Thumbnails show what the user's pictures hold: an entry others could read is not
    // written at all. A failed close may be the write that did not reach the disk.
    bool ok = false;
    if (::fchmod(fd, 0600) == 0) {
        QFile file;
        if (file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            image.setText("Thumb::URI", QString::fromUtf8(uri));
            image.setText("Thumb::MTime", QString::number(qint64(mtime)));
            image.setText("Software", "Pixavant");
            QImageWriter writer(&file, "png");
            ok = writer.write(image);
        }
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0)
        ::unlink(temp.c_str());
}

bool ReadThumbnailEntry(const std::string &entryPath, const std::string &uri, time_t mtime,
                        QImage &image) {
    struct stat st;
    // An entry is a file the cache itself wrote: a link, wherever it points, is not one.
    const int fd = OpenRegular(entryPath, st, false);
    if (fd < 0)
        return false;
    bool ok = false;
    if (st.st_size > 0 && st.st_size <= MaxCacheEntryBytes) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            QImageReader reader(&file, "png");
            const QSize size = reader.size();
            // The reader's own text lookup splits keys at ':', so the tags are read from the
            // picture, which is small.
            if (size.isValid() && size.width() <= 2 * LargeCacheSize &&
                size.height() <= 2 * LargeCacheSize) {
                QImage entry = reader.read();
                ok = !entry.isNull() &&
                     entry.text("Thumb::MTime") == QString::number(qint64(mtime)) &&
                     entry.text("Thumb::URI").toUtf8().toStdString() == uri;
                if (ok)
                    image = entry;
            }
        }
    }
    ::close(fd);
    return ok;
}

std::string ThumbnailUri(const std::string &path) {
    // The characters GLib leaves unescaped in file URIs, so other programs find our entries.
    static const char *keep = "!$&'()*+,-./:=@_~";
    static const char *hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            (c && std::strchr(keep, c))) {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

std::string ThumbnailCachePath(const std::string &path, bool large) {
    const std::string root = ThumbnailCacheRoot();
    if (root.empty())
        return std::string();
    return root + (large ? "/large/" : "/normal/") + Md5Name(path);
}

std::string ThumbnailFailPath(const std::string &path) {
    const std::string root = ThumbnailCacheRoot();
    if (root.empty())
        return std::string();
    return root + "/fail/pixavant-1.0/" + Md5Name(path);
}

void WriteFailureEntry(const std::string &path, const std::string &uri, time_t mtime) {
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    mark.setText(DecodersKey, QString::fromStdString(DecoderStamp()));
    WriteThumbnailEntry(ThumbnailFailPath(path), mark, uri, mtime);
}

bool HasFailureEntry(const std::string &path, const std::string &uri, time_t mtime) {
    QImage mark;
    return ReadThumbnailEntry(ThumbnailFailPath(path), uri, mtime, mark) &&
           mark.text(DecodersKey).toStdString() == DecoderStamp();
}

void RemoveFailureEntry(const std::string &path) {
    const std::string entry = ThumbnailFailPath(path);
    if (!entry.empty())
        ::unlink(entry.c_str());
}
