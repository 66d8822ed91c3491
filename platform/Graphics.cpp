#include "Graphics.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <sys/mman.h>

#include "Exceptions.h"

namespace {

// System colour indexes the program uses, with Windows' classic values until the palette is
// read.
std::array<std::atomic<TColor>, 31> &SystemColorTable() {
    static std::array<std::atomic<TColor>, 31> table;
    static const bool filled = [] {
        for (auto &c : table)
            c = 0x808080;
        table[5] = 0xFFFFFF;  // window
        table[8] = 0x000000;  // window text
        table[13] = 0xD77800; // highlight
        table[15] = 0xF0F0F0; // button face
        table[18] = 0x000000; // button text
        return true;
    }();
    (void)filled;
    return table;
}

} // namespace

TColor FromQColor(const QColor &color) {
    return TColor(color.red() | (color.green() << 8) | (color.blue() << 16));
}

void RefreshSystemColors() {
    if (!qApp)
        return;
    const QPalette pal = QApplication::palette();
    auto &t = SystemColorTable();
    t[5] = FromQColor(pal.color(QPalette::Base));
    t[8] = FromQColor(pal.color(QPalette::Text));
    t[13] = FromQColor(pal.color(QPalette::Highlight));
    t[15] = FromQColor(pal.color(QPalette::Button));
    t[18] = FromQColor(pal.color(QPalette::ButtonText));
}

TColor ColorToRGB(TColor color) {
    // Only the top byte 0xFF marks a system colour; 0x80 to 0xFE are flag bytes of an
    // ordinary colour.
    if ((std::uint32_t(color) >> 24) == 0xFFu) {
        const unsigned index = unsigned(color) & 0xFFu;
        auto &t = SystemColorTable();
        return index < t.size() ? t[index].load() : 0;
    }
    return color;
}

QColor ToQColor(TColor color) {
    const TColor c = ColorToRGB(color);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QRgb ToQRgb(TColor color) {
    const TColor c = ColorToRGB(color);
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QImage NewImageRGB32(int width, int height) {
    constexpr std::size_t Huge = std::size_t(2) << 20;
    const std::size_t bytes =
        std::size_t(std::max(width, 0)) * std::size_t(std::max(height, 0)) * 4;
    if (bytes >= 4 * Huge) {
        const std::size_t rounded = (bytes + Huge - 1) / Huge * Huge;
        if (void *p = std::aligned_alloc(Huge, rounded)) {
#ifdef MADV_HUGEPAGE
            ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
            QImage image(
                static_cast<uchar *>(p), width, height, qsizetype(width) * 4, QImage::Format_RGB32,
                [](void *q) { std::free(q); }, p);
            if (!image.isNull())
                return image;
            std::free(p);
        }
    }
    return QImage(width, height, QImage::Format_RGB32);
}

void TGraphic::SetTransparent(bool value) {
    if (FTransparent != value) {
        FTransparent = value;
        Changed();
    }
}

// ---------------------------------------------------------------------------------------------

TBitmap::TBitmap(int width, int height) {
    SetSize(width, height);
}

TBitmap::TBitmap(const QImage &image)
    : FImage(image.format() == QImage::Format_RGB32 ? image
                                                    : image.convertToFormat(QImage::Format_RGB32)) {
}

TBitmap::TBitmap(const TBitmap &other)
    : TGraphic(), FImage(other.FImage), FPixelFormat(other.FPixelFormat),
      FBrushColor(other.FBrushColor), FTransparentColor(other.FTransparentColor),
      FFixedTransparentColor(other.FFixedTransparentColor) {
    FTransparent = other.FTransparent;
}

TBitmap &TBitmap::operator=(const TBitmap &other) {
    if (this != &other) {
        FImage = other.FImage;
        FPixelFormat = other.FPixelFormat;
        FBrushColor = other.FBrushColor;
        FTransparentColor = other.FTransparentColor;
        FFixedTransparentColor = other.FFixedTransparentColor;
        FTransparent = other.FTransparent;
        Modified();
    }
    return *this;
}

void TBitmap::SetSize(int w, int h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == Width() && h == Height() && !FImage.isNull())
        return;
    if (w == 0 || h == 0) {
        FImage = QImage();
    } else {
        QImage next(w, h, QImage::Format_RGB32);
        if (next.isNull())
            throw MakeOutOfMemory();
        next.fill(ToQRgb(FBrushColor));
        if (!FImage.isNull()) {
            const int cw = std::min(w, Width()), ch = std::min(h, Height());
            for (int y = 0; y < ch; ++y)
                std::copy_n(reinterpret_cast<const QRgb *>(FImage.constScanLine(y)), cw,
                            reinterpret_cast<QRgb *>(next.scanLine(y)));
        }
        FImage = std::move(next);
    }
    Modified();
}

TColor TBitmap::TransparentColor() const {
    if (FFixedTransparentColor)
        return FTransparentColor;
    if (FImage.isNull())
        return TColor(PaletteRelativeFlag); // black, as an empty DIB reads
    const QRgb p = FImage.pixel(0, FImage.height() - 1);
    return TColor(PaletteRelativeFlag | unsigned(FromQColor(QColor(p))));
}

void TBitmap::SetTransparentColor(TColor color) {
    FTransparentColor = color;
    FFixedTransparentColor = true;
    Modified();
}

void TBitmap::SetTransparent(bool value) {
    if (FTransparent != value) {
        FTransparent = value;
        Modified();
    }
}

void TBitmap::Fill(TColor color) {
    if (!FImage.isNull())
        FImage.fill(ToQRgb(color));
    Modified();
}

void TBitmap::FillRect(const QRect &rect, TColor color) {
    if (FImage.isNull())
        return;
    const QRect r = rect.intersected(FImage.rect());
    const QRgb px = ToQRgb(color);
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(FImage.scanLine(y)) + r.left(), r.width(), px);
    Modified();
}

void TBitmap::FrameRect(const QRect &rect, TColor color) {
    if (FImage.isNull() || rect.isEmpty())
        return;
    const QRgb px = ToQRgb(color);
    const QRect bounds = FImage.rect();
    auto put = [&](int x, int y) {
        if (bounds.contains(x, y))
            reinterpret_cast<QRgb *>(FImage.scanLine(y))[x] = px;
    };
    for (int x = rect.left(); x <= rect.right(); ++x) {
        put(x, rect.top());
        put(x, rect.bottom());
    }
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        put(rect.left(), y);
        put(rect.right(), y);
    }
    Modified();
}

void TBitmap::CopyFrom(const TBitmap &source, int x, int y) {
    if (FImage.isNull() || source.FImage.isNull())
        return;
    const QRect target = QRect(x, y, source.Width(), source.Height()).intersected(FImage.rect());
    for (int row = target.top(); row <= target.bottom(); ++row) {
        const QRgb *src = reinterpret_cast<const QRgb *>(source.FImage.constScanLine(row - y)) +
                          (target.left() - x);
        std::copy_n(src, target.width(),
                    reinterpret_cast<QRgb *>(FImage.scanLine(row)) + target.left());
    }
    Modified();
}

void TBitmap::DrawGraphic(const TGraphic &graphic, const QRect &rect) {
    if (FImage.isNull())
        return;
    {
        QPainter painter(&FImage);
        graphic.Draw(painter, rect);
    }
    Modified();
}

void TBitmap::Draw(QPainter &painter, const QRect &dest) const {
    if (FImage.isNull() || dest.isEmpty())
        return;
    // The picture is cached at the size it is drawn, sampled nearest-neighbour: a large
    // picture shown smaller costs memory for what is seen only, and repeated paints reuse it.
    // On a screen with several device pixels per logical one, that size is counted in device
    // pixels, so the picture keeps its own detail.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize deviceSize = (QSizeF(dest.size()) * ratio).toSize();
    if (FDrawCacheGeneration != FGeneration || FDrawCache.size() != deviceSize ||
        FDrawCache.devicePixelRatio() != ratio) {
        QImage img = deviceSize == FImage.size()
                         ? FImage.convertToFormat(QImage::Format_ARGB32)
                         : FImage.scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               .convertToFormat(QImage::Format_ARGB32);
        img.setDevicePixelRatio(ratio);
        // The fourth byte of a pixel is not alpha: make every pixel opaque, and key out the
        // transparent colour when drawing transparently.
        const QRgb key = QRgb(ToQRgb(TransparentColor() & 0x00FFFFFF)) & 0x00FFFFFFu;
        for (int y = 0; y < img.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                const QRgb rgb = line[x] & 0x00FFFFFFu;
                line[x] = (FTransparent && rgb == key) ? 0u : (rgb | 0xFF000000u);
            }
        }
        FDrawCache = std::move(img);
        FDrawCacheGeneration = FGeneration;
    }
    painter.drawImage(dest.topLeft(), FDrawCache);
}

// ---------------------------------------------------------------------------------------------

void TJPEGImage::Draw(QPainter &painter, const QRect &dest) const {
    if (FImage.isNull() || dest.isEmpty())
        return;
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(dest, FImage);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

TIcon::TIcon(const QIcon &icon, int size) : FIcon(icon), FSize(icon.isNull() ? 0 : size) {}

void TIcon::Draw(QPainter &painter, const QRect &dest) const {
    if (!FIcon.isNull() && !dest.isEmpty())
        painter.drawPixmap(dest, FIcon.pixmap(dest.size()));
}

// ---------------------------------------------------------------------------------------------

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
    FGraphic = std::move(graphic);
    if (FGraphic)
        FGraphic->OnChange = [this] { Changed(); };
    Changed();
}

void TPicture::SetGraphic(const TGraphic *graphic) {
    Adopt(graphic ? graphic->Clone() : nullptr);
}
