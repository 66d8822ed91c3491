// Picture thumbnails: content sniffing, scaled decoding (Qt's readers; Magick++ for WMF), the
// freedesktop shared thumbnail cache, and a task whose Kill stops a running extraction.
#include "ShellExtract.h"

#include <QColorSpace>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#ifdef PIXAVANT_HAVE_MAGICK
#include <Magick++.h>
#endif

namespace {

enum class TPictureKind { None, Jpeg, Png, Gif, Bmp, Tiff, Wmf };

constexpr int NormalCacheSize = 128;
constexpr int LargeCacheSize = 256;
constexpr qint64 MaxCacheEntryBytes = 16 << 20;
constexpr qint64 MaxMetafileBytes = 64 << 20;

std::mutex factoryMutex;
ExtractImageFactory &Factory() {
    static ExtractImageFactory factory;
    return factory;
}

// Opens a regular file for reading. Anything else (a named pipe called photo.jpg, a device, a
// folder) is refused after stat, before it could be opened and block.
int OpenRegular(const std::string &path, struct stat &st) {
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The name may have been swapped for something else since stat.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TPictureKind Sniff(const unsigned char *b, std::size_t n) {
    auto word = [&](std::size_t at) { return unsigned(b[at]) | unsigned(b[at + 1]) << 8; };
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return TPictureKind::Jpeg;
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return TPictureKind::Png;
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return TPictureKind::Gif;
    if (n >= 14 && b[0] == 'B' && b[1] == 'M')
        return TPictureKind::Bmp;
    if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
                   (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43))))
        return TPictureKind::Tiff;
    if (n >= 4 && b[0] == 0xD7 && b[1] == 0xCD && b[2] == 0xC6 && b[3] == 0x9A)
        return TPictureKind::Wmf; // placeable metafile
    if (n >= 6 && (word(0) == 1 || word(0) == 2) && word(2) == 9 &&
        (word(4) == 0x0100 || word(4) == 0x0300))
        return TPictureKind::Wmf;
    return TPictureKind::None;
}

const char *QtFormat(TPictureKind kind) {
    switch (kind) {
    case TPictureKind::Jpeg:
        return "jpeg";
    case TPictureKind::Png:
        return "png";
    case TPictureKind::Gif:
        return "gif";
    case TPictureKind::Bmp:
        return "bmp";
    case TPictureKind::Tiff:
        return "tiff";
    default:
        return "";
    }
}

// A file whose reads fail once the extraction is killed, so a decoder stops at its next read.
class TKillableFile : public QFile {
public:
    explicit TKillableFile(const std::atomic<bool> &killed) : FKilled(killed) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (FKilled)
            return -1;
        return QFile::readData(data, maxSize);
    }

private:
    const std::atomic<bool> &FKilled;
};

// The size that fits (w, h) into the box keeping its aspect ratio, never larger than (w, h);
// with cover, the size that covers the box instead.
QSize FitSize(QSize picture, QSize box, bool cover) {
    const double sx = double(box.width()) / picture.width();
    const double sy = double(box.height()) / picture.height();
    double s = cover ? std::max(sx, sy) : std::min(sx, sy);
    if (s >= 1.0)
        return picture;
    return QSize(std::max(1, int(picture.width() * s + 0.5)),
                 std::max(1, int(picture.height() * s + 0.5)));
}

QImage Flattened(const QImage &image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

// The picture scaled into box (or covering it and cropped to it), flattened on white.
QImage Boxed(const QImage &image, QSize box, bool cover) {
    QImage out = image;
    const QSize size = FitSize(image.size(), box, cover);
    if (size != image.size())
        out = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (cover && (out.width() > box.width() || out.height() > box.height())) {
        const int w = std::min(out.width(), box.width());
        const int h = std::min(out.height(), box.height());
        out = out.copy((out.width() - w) / 2, (out.height() - h) / 2, w, h);
    }
    return Flattened(out);
}

// Reduces the colours to what the depth can hold, kept in a 32-bit picture.
QImage WithDepth(const QImage &image, DWORD depth) {
    if (depth == 0 || depth >= 24)
        return image;
    QImage reduced;
    if (depth <= 4) {
        static const QList<QRgb> vga = {
            qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
        reduced = image.convertToFormat(QImage::Format_Indexed8, vga, Qt::ThresholdDither);
    } else if (depth <= 8) {
        reduced = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    } else {
        reduced = image.convertToFormat(QImage::Format_RGB16);
    }
    return reduced.convertToFormat(QImage::Format_RGB32);
}

// The JPEG thumbnail a camera stores in the EXIF block (IFD1), or nothing. Every offset is
// checked against the block, which is read from the first 128 KiB of the file.
QByteArray EmbeddedThumbnail(int fd) {
    QByteArray head(128 * 1024, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, head.data(), std::size_t(head.size()), 0);
    if (got < 4)
        return {};
    const auto *b = reinterpret_cast<const unsigned char *>(head.constData());
    const std::size_t n = std::size_t(got);
    std::size_t pos = 2; // after SOI
    while (pos + 4 <= n && b[pos] == 0xFF) {
        const unsigned marker = b[pos + 1];
        const std::size_t length = std::size_t(b[pos + 2]) << 8 | b[pos + 3];
        if (marker == 0xDA || marker == 0xD9 || length < 2)
            break;
        const std::size_t start = pos + 4, end = pos + 2 + length;
        if (end > n)
            break;
        if (marker == 0xE1 && length >= 8 + 6 && std::memcmp(b + start, "Exif\0\0", 6) == 0) {
            const unsigned char *t = b + start + 6;
            const std::size_t size = end - start - 6;
            const bool little = t[0] == 'I' && t[1] == 'I';
            if (!little && !(t[0] == 'M' && t[1] == 'M'))
                return {};
            auto u16 = [&](std::size_t at) -> std::uint32_t {
                return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1];
            };
            auto u32 = [&](std::size_t at) -> std::uint32_t {
                return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
            };
            auto nextIfd = [&](std::size_t ifd) -> std::size_t {
                if (ifd + 2 > size)
                    return 0;
                const std::size_t after = ifd + 2 + 12 * std::size_t(u16(ifd));
                return after + 4 <= size ? u32(after) : 0;
            };
            const std::size_t ifd0 = size >= 8 ? u32(4) : 0;
            const std::size_t ifd1 = ifd0 ? nextIfd(ifd0) : 0;
            if (!ifd1 || ifd1 + 2 > size)
                return {};
            std::size_t offset = 0, bytes = 0;
            const std::size_t count = u16(ifd1);
            for (std::size_t k = 0; k < count && ifd1 + 2 + 12 * (k + 1) <= size; ++k) {
                const std::size_t e = ifd1 + 2 + 12 * k;
                if (u16(e) == 0x0201)
                    offset = u32(e + 8);
                else if (u16(e) == 0x0202)
                    bytes = u32(e + 8);
            }
            if (offset == 0 || bytes < 4 || offset > size || bytes > size - offset)
                return {};
            return QByteArray(reinterpret_cast<const char *>(t + offset), qsizetype(bytes));
        }
        pos = end;
    }
    return {};
}

// Turns a picture as the reader would for these EXIF orientation flags.
QImage Oriented(const QImage &image, QImageIOHandler::Transformations flags) {
    if (flags == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    QImage out = image.mirrored(flags & QImageIOHandler::TransformationMirror,
                                flags & QImageIOHandler::TransformationFlip);
    if (flags & QImageIOHandler::TransformationRotate90)
        out = out.transformed(QTransform().rotate(90));
    return out;
}

// The camera's own small picture, when it covers target and shows the whole frame (same
// aspect ratio: letterboxed thumbnails of 3:2 sensors are not used). It spares decoding
// megapixels for list-sized thumbnails.
QImage UsableEmbedded(int fd, QSize stored, QSize target) {
    const QByteArray bytes = EmbeddedThumbnail(fd);
    if (bytes.isEmpty())
        return {};
    QImage thumb;
    if (!thumb.loadFromData(bytes, "jpeg") || thumb.width() < target.width() ||
        thumb.height() < target.height())
        return {};
    const double a = double(stored.width()) / stored.height();
    const double b = double(thumb.width()) / thumb.height();
    if (std::abs(a - b) > 0.015 * a)
        return {};
    return thumb;
}

enum class TDecodeResult { Ok, Failed, Killed };

TDecodeResult DecodeWithQt(int fd, TPictureKind kind, QSize box, bool cover,
                           const std::atomic<bool> &killed, QImage &result) {
    TKillableFile file(killed);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return TDecodeResult::Failed;
    QImageReader reader(&file, QtFormat(kind));
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return killed ? TDecodeResult::Killed : TDecodeResult::Failed;
    if (qint64(stored.width()) * stored.height() > MaxPicturePixels)
        return TDecodeResult::Failed;
    // The box in the stored orientation: the reader turns the picture after scaling it.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize storedBox = turned ? box.transposed() : box;
    const QSize target = FitSize(stored, storedBox, cover);
    QImage image;
    if (kind == TPictureKind::Jpeg && target != stored) {
        const QImage embedded = UsableEmbedded(fd, stored, target);
        if (!embedded.isNull())
            image =
                Oriented(embedded.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         reader.transformation());
    }
    if (image.isNull()) {
        if (target != stored)
            reader.setScaledSize(target); // JPEG: decoded at the smallest DCT scale covering it
        image = reader.read();
    }
    if (killed)
        return TDecodeResult::Killed;
    if (image.isNull())
        return TDecodeResult::Failed;
    // Thumbnails are sRGB, as the cache wants and the screen expects.
    if (image.colorSpace().isValid()) {
        if (image.colorSpace() != QColorSpace(QColorSpace::SRgb))
            image.convertToColorSpace(QColorSpace::SRgb);
        image.setColorSpace(QColorSpace());
    }
    result = image;
    return TDecodeResult::Ok;
}

#ifdef PIXAVANT_HAVE_MAGICK
TDecodeResult DecodeMetafile(int fd, const struct stat &st, QSize box, bool cover,
                             const std::atomic<bool> &killed, QImage &result) {
    if (st.st_size <= 0 || st.st_size > MaxMetafileBytes)
        return TDecodeResult::Failed;
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size));
    qint64 done = 0;
    while (done < st.st_size) {
        if (killed)
            return TDecodeResult::Killed;
        const ssize_t n = ::pread(fd, bytes.data() + done, std::size_t(st.st_size - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return TDecodeResult::Failed;
        done += n;
    }
    static std::once_flag magickInit;
    std::call_once(magickInit, [] { Magick::InitializeMagick(nullptr); });
    // Library state is shared; one metafile at a time.
    static std::mutex magickMutex;
    std::lock_guard lock(magickMutex);
    try {
        Magick::Blob blob(bytes.constData(), std::size_t(bytes.size()));
        Magick::Image image;
        image.magick("WMF");
        image.ping(blob);
        const qint64 pixels = qint64(image.columns()) * qint64(image.rows());
        if (pixels <= 0 || pixels > MaxPicturePixels)
            return TDecodeResult::Failed;
        if (killed)
            return TDecodeResult::Killed;
        image = Magick::Image();
        image.magick("WMF");
        image.read(blob);
        const int w = int(image.columns()), h = int(image.rows());
        if (w <= 0 || h <= 0)
            return TDecodeResult::Failed;
        QImage rendered(w, h, QImage::Format_ARGB32);
        if (rendered.isNull())
            return TDecodeResult::Failed;
        for (int y = 0; y < h; ++y)
            image.write(0, ssize_t(y), std::size_t(w), 1, "BGRA", Magick::CharPixel,
                        rendered.scanLine(y));
        if (killed)
            return TDecodeResult::Killed;
        const QSize target = FitSize(rendered.size(), box, cover);
        result = target == rendered.size()
                     ? rendered
                     : rendered.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return TDecodeResult::Ok;
    } catch (const std::exception &) {
        return TDecodeResult::Failed;
    }
}
#endif

// --- The freedesktop shared thumbnail cache ---------------------------------------------------

std::string CacheRoot() {
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/thumbnails";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/thumbnails";
    return std::string();
}

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

// Writes the entry under a temporary name (0600) and renames it into place, so readers never
// see half a file.
void WriteEntry(const std::string &target, QImage image, const std::string &uri, time_t mtime) {
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos || !MakeFolders(target.substr(0, slash)))
        return;
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return;
    ::fchmod(fd, 0600);
    bool ok = false;
    {
        QFile file;
        if (file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            image.setText("Thumb::URI", QString::fromUtf8(uri));
            image.setText("Thumb::MTime", QString::number(qint64(mtime)));
            image.setText("Software", "Pixavant");
            QImageWriter writer(&file, "png");
            ok = writer.write(image);
        }
    }
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0)
        ::unlink(temp.c_str());
}

// An entry that belongs to this very version of the file, or nothing.
bool ReadEntry(const std::string &entryPath, const std::string &uri, time_t mtime, QImage &image) {
    struct stat st;
    const int fd = OpenRegular(entryPath, st);
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

// --- The extractor ----------------------------------------------------------------------------

class TPictureExtractor final : public TComObject<IExtractImage, IRunnableTask> {
public:
    explicit TPictureExtractor(std::string path) : FPath(std::move(path)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IExtractImage)
            *out = static_cast<IExtractImage *>(this);
        else if (iid == IID_IRunnableTask)
            *out = static_cast<IRunnableTask *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    HRESULT GetLocation(char16_t *pathBuffer, DWORD capacity, DWORD *priority, const SIZE *size,
                        DWORD colorDepth, DWORD *flags) override {
        if (pathBuffer && capacity > 0) {
            const std::u16string name =
                QFile::decodeName(QByteArray::fromStdString(FPath)).toStdU16String();
            const std::size_t n = std::min<std::size_t>(name.size(), capacity - 1);
            std::copy_n(name.data(), n, pathBuffer);
            pathBuffer[n] = 0;
        }
        if (priority)
            *priority = 0;
        if (size && size->cx > 0 && size->cy > 0)
            FBox = QSize(size->cx, size->cy);
        FColorDepth = colorDepth;
        const DWORD requested = flags ? *flags : 0;
        FFlags = requested;
        DWORD answer = requested;
        // IEIFLAG_CACHE comes back when this thumbnail will not be kept in the shared cache.
        if (Cacheable())
            answer &= ~IEIFLAG_CACHE;
        else
            answer |= IEIFLAG_CACHE;
        if (flags)
            *flags = answer;
        return (requested & IEIFLAG_ASYNC) ? E_PENDING : S_OK;
    }

    HRESULT Extract(HBITMAP *bitmap) override {
        if (!bitmap)
            return E_POINTER;
        *bitmap = nullptr;
        if (FKilled)
            return E_ABORT;
        FRunning = true;
        try {
            QImage image;
            const HRESULT hr = Produce(image);
            FRunning = false;
            if (FAILED(hr))
                return hr;
            *bitmap = new QImage(WithDepth(image, FColorDepth));
            return S_OK;
        } catch (const std::bad_alloc &) {
            FRunning = false;
            return E_OUTOFMEMORY;
        } catch (...) {
            FRunning = false;
            return E_FAIL;
        }
    }

    HRESULT Run() override { return E_NOTIMPL; }
    HRESULT Kill(BOOL) override {
        FKilled = true;
        return S_OK;
    }
    HRESULT Suspend() override { return E_NOTIMPL; }
    HRESULT Resume() override { return E_NOTIMPL; }
    ULONG IsRunning() override {
        if (FKilled)
            return FRunning ? 1u : 4u; // IRTIR_TASK_RUNNING / IRTIR_TASK_FINISHED
        return FRunning ? 1u : 0u;
    }

private:
    bool Cover() const { return FFlags & IEIFLAG_ORIGSIZE; }
    bool Cacheable() const {
        return FBox.width() <= LargeCacheSize && FBox.height() <= LargeCacheSize &&
               !CacheRoot().empty();
    }

    HRESULT Produce(QImage &out) {
        struct stat st;
        const int fd = OpenRegular(FPath, st);
        if (fd < 0)
            return E_FILE_NOT_FOUND;
        struct FdCloser {
            int fd;
            ~FdCloser() { ::close(fd); }
        } closer{fd};

        const bool cacheable = Cacheable();
        const bool large = FBox.width() > NormalCacheSize || FBox.height() > NormalCacheSize;
        const std::string uri = ThumbnailUri(FPath);
        const time_t mtime = st.st_mtime;
        if (cacheable) {
            QImage cached;
            const bool recompute = FFlags & IEIFLAG_QUALITY;
            if (!recompute && ReadEntry(ThumbnailCachePath(FPath, large), uri, mtime, cached)) {
                out = Boxed(cached, FBox, Cover());
                return S_OK;
            }
            // A file that failed before is not tried again until it changes.
            if (!recompute && ReadEntry(ThumbnailFailPath(FPath), uri, mtime, cached))
                return E_FAIL;
        }

        // Check the content again: the file may have been replaced since it was listed.
        unsigned char head[16];
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        const TPictureKind kind = n > 0 ? Sniff(head, std::size_t(n)) : TPictureKind::None;
        const int side = large ? LargeCacheSize : NormalCacheSize;
        const QSize decodeBox = cacheable ? QSize(side, side) : FBox;
        QImage image;
        TDecodeResult result = TDecodeResult::Failed;
        if (kind == TPictureKind::Wmf) {
#ifdef PIXAVANT_HAVE_MAGICK
            result = DecodeMetafile(fd, st, decodeBox, false, FKilled, image);
#endif
        } else if (kind != TPictureKind::None) {
            result = DecodeWithQt(fd, kind, decodeBox, cacheable ? false : Cover(), FKilled, image);
        }
        if (result == TDecodeResult::Killed || FKilled)
            return E_ABORT;
        if (result != TDecodeResult::Ok) {
            if (cacheable) {
                QImage mark(1, 1, QImage::Format_ARGB32);
                mark.fill(Qt::transparent);
                WriteEntry(ThumbnailFailPath(FPath), mark, uri, mtime);
            }
            return E_FAIL;
        }
        if (cacheable)
            WriteEntry(ThumbnailCachePath(FPath, large),
                       image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32)
                                               : image.convertToFormat(QImage::Format_RGB32),
                       uri, mtime);
        out = Boxed(image, FBox, Cover());
        return S_OK;
    }

    std::string FPath;
    QSize FBox{96, 96};
    DWORD FColorDepth = 32;
    DWORD FFlags = 0;
    std::atomic<bool> FKilled{false};
    std::atomic<bool> FRunning{false};
};

} // namespace

void SetExtractImageFactoryForTesting(ExtractImageFactory factory) {
    std::lock_guard lock(factoryMutex);
    Factory() = std::move(factory);
}

HRESULT CreateExtractImage(const std::string &path, void **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ExtractImageFactory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = Factory();
    }
    if (factory)
        return factory(path, out);

    struct stat st;
    const int fd = OpenRegular(path, st);
    if (fd < 0)
        return E_NOINTERFACE;
    unsigned char head[16];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    const TPictureKind kind = n > 0 ? Sniff(head, std::size_t(n)) : TPictureKind::None;
    if (kind == TPictureKind::None)
        return E_NOINTERFACE;
#ifndef PIXAVANT_HAVE_MAGICK
    if (kind == TPictureKind::Wmf)
        return E_NOINTERFACE;
#endif
    *out = static_cast<IExtractImage *>(new TPictureExtractor(path));
    return S_OK;
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
    const std::string root = CacheRoot();
    if (root.empty())
        return std::string();
    return root + (large ? "/large/" : "/normal/") + Md5Name(path);
}

std::string ThumbnailFailPath(const std::string &path) {
    const std::string root = CacheRoot();
    if (root.empty())
        return std::string();
    return root + "/fail/pixavant-1.0/" + Md5Name(path);
}
