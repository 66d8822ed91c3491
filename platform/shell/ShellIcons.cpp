// File icons and the system image list over the freedesktop icon theme.
#include "ShellIcons.h"

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

#include "Graphics.h"
#include "GuiThread.h"
#include "Services.h"
#include "Text.h"

namespace {

constexpr int LargeIconSize = 32;
constexpr int SmallIconSize = 16;

// One distinct icon: its theme name (or fallback key) and its pictures at both list sizes.
struct IconEntry {
    std::string Key;
    QIcon Icon; // touched on the GUI thread only
    QImage Large;
    QImage Small;
};

// The icons met so far. Indexes are shared by the large and the small list and never change.
class IconRegistry {
public:
    // Index of the icon for a MIME type; resolves (on the GUI thread) at first sight.
    int IndexForMime(const QString &mimeName);
    QImage Image(int index, bool small);
    // The icon at size x size pixels: drawn afresh at that size where it can be, else scaled.
    QImage Image(int index, bool small, int size);
    QIcon Icon(int index); // GUI thread

private:
    int Add(const std::string &key, const QIcon &icon, const QImage &large, const QImage &small);

    std::mutex FMutex;
    std::vector<IconEntry> FEntries;
    std::unordered_map<std::string, int> FByKey;
    std::unordered_map<std::string, int> FByMime;
};

IconRegistry &Registry() {
    static IconRegistry registry;
    return registry;
}

// Headless or bare sessions name no full theme. Their icons are then taken from Adwaita's own
// files when it is installed, rather than by making it Qt's fallback theme: that setting is
// global and would change every other icon lookup of the program.
bool BareTheme() {
    const QString fallback = QIcon::fallbackThemeName();
    return fallback.isEmpty() || fallback == "hicolor";
}

QIcon AdwaitaIcon(const QString &name) {
    QIcon icon;
    for (const QString &root : QIcon::themeSearchPaths()) {
        const QDir theme(root + "/Adwaita");
        if (!theme.exists())
            continue;
        for (const QString &size : theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const char *context : {"mimetypes", "places", "legacy"})
                for (const char *ext : {".png", ".svg"}) {
                    const QString file = theme.filePath(size + '/' + context + '/' + name + ext);
                    if (QFile::exists(file))
                        icon.addFile(file);
                }
        if (!icon.isNull())
            break;
    }
    return icon;
}

// The picture on a transparent square of side size: centred, scaled down when larger and, with
// enlarge, scaled up when smaller.
QImage OnSquare(QImage image, int size, bool enlarge) {
    if (image.isNull())
        return image;
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.width() == size && image.height() == size)
        return image;
    QImage square(size, size, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    const bool larger = image.width() > size || image.height() > size;
    const QImage fitted =
        larger || enlarge ? image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                          : image;
    QPainter p(&square);
    p.drawImage((size - fitted.width()) / 2, (size - fitted.height()) / 2, fitted);
    return square;
}

QImage Rendered(const QIcon &icon, int size) {
    return OnSquare(icon.pixmap(QSize(size, size), 1.0).toImage(), size, false);
}

// A plain page (or folder) in a colour of its kind, for systems without an icon theme.
QImage DrawnIcon(const std::string &kind, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    if (kind == "folder") {
        p.setPen(QPen(QColor(0x8a, 0x6d, 0x1f), s));
        p.setBrush(QColor(0xe8, 0xc2, 0x4f));
        QPainterPath path;
        path.moveTo(2 * s, 7 * s);
        path.lineTo(12 * s, 7 * s);
        path.lineTo(14 * s, 10 * s);
        path.lineTo(30 * s, 10 * s);
        path.lineTo(30 * s, 27 * s);
        path.lineTo(2 * s, 27 * s);
        path.closeSubpath();
        p.drawPath(path);
        return image;
    }
    std::uint32_t h = 2166136261u;
    for (unsigned char c : kind)
        h = (h ^ c) * 16777619u;
    const QColor band = QColor::fromHsv(int(h % 360), 150, 200);
    QPainterPath page;
    page.moveTo(6 * s, 2 * s);
    page.lineTo(20 * s, 2 * s);
    page.lineTo(27 * s, 9 * s);
    page.lineTo(27 * s, 30 * s);
    page.lineTo(6 * s, 30 * s);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x70, 0x70, 0x70), s));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.fillRect(QRectF(8 * s, 16 * s, 17 * s, 9 * s), band);
    p.drawLine(QPointF(20 * s, 2 * s), QPointF(20 * s, 9 * s));
    p.drawLine(QPointF(20 * s, 9 * s), QPointF(27 * s, 9 * s));
    return image;
}

int IconRegistry::Add(const std::string &key, const QIcon &icon, const QImage &large,
                      const QImage &small) {
    // Caller holds the lock.
    auto it = FByKey.find(key);
    if (it != FByKey.end())
        return it->second;
    FEntries.push_back(IconEntry{key, icon, large, small});
    const int index = int(FEntries.size()) - 1;
    FByKey.emplace(key, index);
    return index;
}

int IconRegistry::IndexForMime(const QString &mimeName) {
    const std::string mimeKey = mimeName.toStdString();
    {
        std::lock_guard lock(FMutex);
        auto it = FByMime.find(mimeKey);
        if (it != FByMime.end())
            return it->second;
    }

    // Theme icons are GUI objects: look them up there. The GUI thread never waits for a
    // worker, so blocking on it here is safe.
    std::string key;
    QIcon icon;
    QImage large, small;
    CallOnGuiThread([&] {
        const bool bare = BareTheme();
        QMimeDatabase db;
        const QMimeType mime = db.mimeTypeForName(mimeName);
        QStringList names;
        if (mime.isValid())
            names << mime.iconName() << mime.genericIconName();
        names << "unknown";
        for (const QString &name : names) {
            if (name.isEmpty())
                continue;
            QIcon candidate = QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name)
                              : bare                    ? AdwaitaIcon(name)
                                                        : QIcon();
            if (!candidate.isNull()) {
                QImage l = Rendered(candidate, LargeIconSize);
                if (l.isNull())
                    continue;
                key = name.toStdString();
                icon = candidate;
                large = l;
                small = Rendered(candidate, SmallIconSize);
                break;
            }
        }
    });
    if (key.empty()) {
        // No theme (or no application): a drawn icon per kind of file.
        QMimeDatabase db;
        const QMimeType mime = db.mimeTypeForName(mimeName);
        std::string kind = mime.isValid() ? mime.genericIconName().toStdString() : "unknown";
        if (mimeKey == "inode/directory")
            kind = "folder";
        key = "fallback:" + kind;
        large = DrawnIcon(kind, LargeIconSize);
        small = DrawnIcon(kind, SmallIconSize);
    }
    if (small.isNull())
        small = large.scaled(SmallIconSize, SmallIconSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);

    std::lock_guard lock(FMutex);
    const int index = Add(key, icon, large, small);
    FByMime.emplace(mimeKey, index);
    return index;
}

QImage IconRegistry::Image(int index, bool small) {
    std::lock_guard lock(FMutex);
    if (index < 0 || index >= int(FEntries.size()))
        return QImage();
    return small ? FEntries[std::size_t(index)].Small : FEntries[std::size_t(index)].Large;
}

QImage IconRegistry::Image(int index, bool small, int size) {
    std::string key;
    QImage listed;
    {
        std::lock_guard lock(FMutex);
        if (index < 0 || index >= int(FEntries.size()))
            return QImage();
        const IconEntry &entry = FEntries[std::size_t(index)];
        key = entry.Key;
        listed = small ? entry.Small : entry.Large;
    }
    if (listed.width() == size || size <= 0)
        return listed;
    const std::string fallback = "fallback:";
    if (key.compare(0, fallback.size(), fallback) == 0)
        return DrawnIcon(key.substr(fallback.size()), size);
    // A theme that has the icon only smaller gives that; it is scaled up to keep its place.
    QImage image;
    CallOnGuiThread([&] { image = Icon(index).pixmap(QSize(size, size), 1.0).toImage(); });
    return OnSquare(image.isNull() ? listed : image, size, true);
}

QIcon IconRegistry::Icon(int index) {
    std::lock_guard lock(FMutex);
    if (index < 0 || index >= int(FEntries.size()))
        return QIcon();
    return FEntries[std::size_t(index)].Icon;
}

// The MIME type that names a file's icon: its kind for folders and special files, else its
// name's extension. The content is never read, so a named pipe is never opened.
QString MimeNameFor(const std::string &path, DWORD attributes, bool useAttributes) {
    if (useAttributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "inode/directory";
    } else {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return "inode/directory";
            if (S_ISFIFO(st.st_mode))
                return "inode/fifo";
            if (S_ISSOCK(st.st_mode))
                return "inode/socket";
            if (S_ISCHR(st.st_mode))
                return "inode/chardevice";
            if (S_ISBLK(st.st_mode))
                return "inode/blockdevice";
        }
    }
    static std::mutex dbMutex;
    std::lock_guard lock(dbMutex);
    QMimeDatabase db;
    const QString name = PathToText(path);
    return db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
}

} // namespace

class TSystemImageList {
public:
    explicit TSystemImageList(bool small) : FSmall(small) {}
    int Size() const { return FSmall ? SmallIconSize : LargeIconSize; }
    bool Small() const { return FSmall; }

private:
    bool FSmall;
};

namespace {
TSystemImageList largeList(false);
TSystemImageList smallList(true);
} // namespace

BOOL DestroyIcon(HICON icon) {
    delete icon;
    return icon ? 1 : 0;
}

std::uintptr_t SHGetFileInfoA(const char *path, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                              UINT flags) {
    if (!info || infoSize < sizeof(SHFILEINFOA))
        return 0;
    const std::string p = path ? path : "";
    const bool small = flags & SHGFI_SMALLICON;
    TSystemImageList *list = small ? &smallList : &largeList;
    if ((flags & SHGFI_SYSICONINDEX) && p.empty())
        return CurrentServices().SystemImageListAvailable ? reinterpret_cast<std::uintptr_t>(list)
                                                          : 0;
    if (p.empty())
        return 0;

    const bool useAttributes = flags & SHGFI_USEFILEATTRIBUTES;
    const QString mime = MimeNameFor(p, attributes, useAttributes);
    const int index = Registry().IndexForMime(mime);
    std::uintptr_t result = 1;
    if (flags & SHGFI_SYSICONINDEX) {
        if (!CurrentServices().SystemImageListAvailable)
            return 0;
        info->iIcon = index;
        result = reinterpret_cast<std::uintptr_t>(list);
    }
    if (flags & SHGFI_ICON) {
        auto *handle = new TIconHandle;
        handle->Image = Registry().Image(index, small);
        if (IsGuiThread())
            handle->Icon = Registry().Icon(index);
        info->hIcon = handle;
        info->iIcon = index;
    }
    if (flags & SHGFI_TYPENAME) {
        QMimeDatabase db;
        const QByteArray comment = db.mimeTypeForName(mime).comment().toUtf8();
        const std::size_t n = std::min<std::size_t>(comment.size(), sizeof(info->szTypeName) - 1);
        std::memcpy(info->szTypeName, comment.constData(), n);
        info->szTypeName[n] = 0;
    }
    return result;
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXICON:
    case SM_CYICON:
        return LargeIconSize;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return SmallIconSize;
    default:
        return 0;
    }
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int *cx, int *cy) {
    if (!list || !cx || !cy)
        return 0;
    *cx = *cy = list->Size();
    return 1;
}

BOOL ImageList_Draw(HIMAGELIST list, int index, TBitmap &dest, int x, int y, UINT style) {
    return list ? ImageList_DrawEx(list, index, dest, x, y, list->Size(), list->Size(), style) : 0;
}

BOOL ImageList_DrawEx(HIMAGELIST list, int index, TBitmap &dest, int x, int y, int dx, int dy,
                      UINT style) {
    if (!list)
        return 0;
    // At the list's own size this is the listed picture itself.
    const QImage icon = (style & ILD_SCALE)
                            ? Registry().Image(index, list->Small(), std::min(dx, dy))
                            : Registry().Image(index, list->Small());
    if (icon.isNull() || dest.Image().isNull())
        return 0;
    {
        QPainter p(&dest.Image());
        p.drawImage(x, y, icon);
    }
    dest.Modified();
    return 1;
}
