#include "RotImg.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include <sys/mman.h>

#include "Exceptions.h"

namespace {

// The 80-bit constant the angle conversion has always used.
constexpr long double Pi = 3.14159265358979323851L;

// Integer arithmetic here is checked: a result that leaves 32 bits is an error, never a wrap.
std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_add_overflow(a, b, &r))
        throw MakeIntOverflow();
    return r;
}

std::int32_t CheckedSub(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_sub_overflow(a, b, &r))
        throw MakeIntOverflow();
    return r;
}

std::int32_t CheckedMul(std::int32_t a, std::int32_t b) {
    std::int32_t r;
    if (__builtin_mul_overflow(a, b, &r))
        throw MakeIntOverflow();
    return r;
}

std::int32_t Fit32(std::int64_t v) {
    if (v < INT32_MIN || v > INT32_MAX)
        throw MakeIntOverflow();
    return std::int32_t(v);
}

// Nearest integer, halves to even, whatever the FPU's rounding mode happens to be.
std::int32_t RoundHalfEven(long double v) {
    if (!std::isfinite(v) || v < -2147483648.5L || v > 2147483647.5L)
        throw MakeIntOverflow();
    long double r = std::floor(v);
    const long double frac = v - r;
    if (frac > 0.5L || (frac == 0.5L && std::fmod(r, 2.0L) != 0))
        r += 1;
    return Fit32(std::int64_t(r));
}

void RequireFiniteAngle(long double angle) {
    if (!std::isfinite(angle))
        throw Exception("Invalid rotation angle: the angle must be a finite number of degrees");
}

long double Radians(long double normalised) {
    return (-normalised) * Pi / 180.0L;
}

struct TCentre {
    std::int32_t cx, cy;
};

// The middle pixel of a turned bitmap. For even sizes the corrections at exactly 0 and +-90
// keep the unturned picture and the two exact quarter turns free of background; 270 and -270
// deliberately do not take them.
TCentre CentreOf(std::int32_t rw, std::int32_t rh, long double a) {
    TCentre c{rw / 2, rh / 2};
    if (rw % 2 == 0 && (a == 0 || a == -90))
        c.cx = CheckedSub(c.cx, 1);
    if (rh % 2 == 0 && (a == 0 || a == 90))
        c.cy = CheckedSub(c.cy, 1);
    return c;
}

// Everything one band of the fill needs; pixels are addressed in the bottom-up sense of the
// rotation, so source row v (from the bottom) is image row H-1-v.
struct TRotationJob {
    const std::uint32_t *srcBottom; // first pixel of the source's bottom row
    std::ptrdiff_t srcStride;       // in pixels
    std::uint32_t *dst;
    std::ptrdiff_t dstStride;
    std::int32_t W, H, W2, H2, cx, cy, hw, hh, S, C;
    std::uint32_t background;
};

// Tiles keep the source reads of a steep angle within a few hundred kilobytes.
constexpr int TileRows = 64;
constexpr int TileCols = 64;

void FillRows(const TRotationJob &j, int rowBegin, int rowEnd) {
    // Locals, so that the compiler need not reload them after every pixel store.
    const std::uint32_t *const srcBottom = j.srcBottom;
    const std::ptrdiff_t srcStride = j.srcStride;
    const std::uint32_t uW = std::uint32_t(j.W), uH = std::uint32_t(j.H);
    const std::int32_t S = j.S, C = j.C, hw = j.hw, hh = j.hh, W2 = j.W2;
    const std::uint32_t stepU = std::uint32_t(C), stepV = std::uint32_t(S);
    const std::uint32_t background = j.background;
    for (int r0 = rowBegin; r0 < rowEnd; r0 += TileRows) {
        const int r1 = std::min(r0 + TileRows, rowEnd);
        for (int c0 = 0; c0 < W2; c0 += TileCols) {
            const int c1 = std::min(c0 + TileCols, W2);
            const std::int32_t x0 = c0 - (W2 - 1) + j.cx;
            for (int r = r0; r < r1; ++r) {
                // Image row r is row H2-1-r from the bottom, so y = (H2-1-r) - (H2-1) + cy.
                const std::int32_t y = j.cy - r;
                const std::int32_t yS = y * S, yC = y * C;
                // Stepping in unsigned arithmetic: the value after the last column may lie
                // outside the range checked beforehand and must not count as an overflow.
                std::uint32_t uf = std::uint32_t(x0 * C - yS);
                std::uint32_t vf = std::uint32_t(x0 * S + yC);
                std::uint32_t *out = j.dst + std::ptrdiff_t(r) * j.dstStride + c0;
                std::uint32_t *const end = out + (c1 - c0);
                for (; out != end; ++out) {
                    const std::uint32_t u = std::uint32_t((std::int32_t(uf) >> 16) + hw);
                    const std::uint32_t v = std::uint32_t((std::int32_t(vf) >> 16) + hh);
                    *out = (u < uW && v < uH)
                               ? srcBottom[std::ptrdiff_t(u) - std::ptrdiff_t(v) * srcStride]
                               : background;
                    uf += stepU;
                    vf += stepV;
                }
            }
        }
    }
}

// Large turned bitmaps go on huge pages where the system offers them (the faults of fresh
// small pages would cost more than the turn and serialise the threads).
QImage NewPixelBuffer(std::int32_t w, std::int32_t h) {
    return NewImageRGB32(w, h);
}

// Raises EIntOverflow when any intermediate of the per-pixel arithmetic would leave 32 bits.
// Every term is linear in x or y, so its extremes lie at the corners of the coordinate range.
void CheckPixelArithmetic(const TRotationJob &j) {
    if (j.W2 <= 0 || j.H2 <= 0)
        return;
    const std::int64_t xs[2] = {std::int64_t(j.cx) - j.W2 + 1, j.cx};
    const std::int64_t ys[2] = {std::int64_t(j.cy) - j.H2 + 1, j.cy};
    for (std::int64_t x : xs)
        for (std::int64_t y : ys) {
            Fit32(x);
            Fit32(y);
            const std::int64_t u = Fit32(Fit32(x * j.C) - std::int64_t(Fit32(y * j.S)));
            const std::int64_t v = Fit32(Fit32(x * j.S) + std::int64_t(Fit32(y * j.C)));
            Fit32((u >> 16) + j.hw);
            Fit32((v >> 16) + j.hh);
        }
}

// Below this many destination pixels a second thread costs more than it saves.
constexpr std::int64_t MinPixelsPerThread = 1 << 17;
constexpr int MaxThreads = 64;

void RunJob(const TRotationJob &job, int threads) {
    int n = threads;
    if (n <= 0) {
        n = int(std::max(1u, std::thread::hardware_concurrency()));
        n = int(std::min<std::int64_t>(
            n, std::max<std::int64_t>(1, std::int64_t(job.W2) * job.H2 / MinPixelsPerThread)));
    }
    n = std::clamp(n, 1, std::min(job.H2, MaxThreads));
    std::vector<std::thread> workers;
    std::vector<std::pair<int, int>> inline_bands;
    auto band = [&](int k) {
        return std::pair<int, int>(int(std::int64_t(job.H2) * k / n),
                                   int(std::int64_t(job.H2) * (k + 1) / n));
    };
    for (int k = 1; k < n; ++k) {
        const auto [b, e] = band(k);
        try {
            workers.emplace_back([&job, b, e] { FillRows(job, b, e); });
        } catch (const std::system_error &) {
            inline_bands.push_back({b, e}); // no thread to be had: do that band here
        }
    }
    const auto [b0, e0] = band(0);
    FillRows(job, b0, e0);
    for (const auto &[b, e] : inline_bands)
        FillRows(job, b, e);
    for (std::thread &t : workers)
        t.join();
}

std::int32_t DiagonalOf(std::int32_t w, std::int32_t h) {
    const std::int32_t sum = CheckedAdd(CheckedMul(w, w), CheckedMul(h, h));
    return RoundHalfEven(std::sqrt(static_cast<long double>(sum)));
}

bool KeepsOwnTransparency(const TGraphic *g) {
    return dynamic_cast<const TMetafile *>(g) || dynamic_cast<const TIcon *>(g);
}

} // namespace

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    std::int64_t n = number, d = denominator;
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const std::int64_t product = n * numerator;
    const std::int64_t ret = product >= 0 ? (product + d / 2) / d : (product - d / 2) / d;
    if (ret > INT32_MAX || ret < -INT32_MAX)
        return -1;
    return int(ret);
}

long double NormalizeAngle(long double angle) {
    const long double q = angle / 360.0L;
    return (q - std::trunc(q)) * 360.0L;
}

std::unique_ptr<TBitmap> RotateBitmap(const TBitmap &source, TColor backgroundColor,
                                      long double angle, int threads) {
    RequireFiniteAngle(angle);
    const std::uint32_t c = std::uint32_t(ColorToRGB(backgroundColor));
    // Blue, green, red in memory order, then the colour's flag byte.
    const std::uint32_t background =
        (c & 0xFF000000u) | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);

    const long double a = NormalizeAngle(angle);
    const long double theta = Radians(a);
    const std::int32_t S = std::int32_t(std::sin(theta) * 65536.0L);
    const std::int32_t C = std::int32_t(std::cos(theta) * 65536.0L);

    const std::int32_t W = source.Width(), H = source.Height();
    const std::int32_t absC = std::abs(C), absS = std::abs(S);
    const std::int32_t W2 = CheckedAdd(CheckedMul(absC, W), CheckedMul(absS, H)) >> 16;
    const std::int32_t H2 = CheckedAdd(CheckedMul(absS, W), CheckedMul(absC, H)) >> 16;
    const TCentre centre = CentreOf(W2, H2, a);
    CheckedMul(CheckedMul(W, H), 4);
    CheckedMul(CheckedMul(W2, H2), 4);

    TRotationJob job{};
    job.W = W;
    job.H = H;
    job.W2 = W2;
    job.H2 = H2;
    job.cx = centre.cx;
    job.cy = centre.cy;
    job.hw = W / 2;
    job.hh = H / 2;
    job.S = S;
    job.C = C;
    job.background = background;
    CheckPixelArithmetic(job);

    if (W2 <= 0 || H2 <= 0)
        return std::make_unique<TBitmap>();

    QImage src = source.Image();
    if (src.depth() != 32 && !src.isNull())
        src = src.convertToFormat(QImage::Format_RGB32);
    QImage dst = NewPixelBuffer(W2, H2);
    if (dst.isNull())
        throw MakeOutOfMemory();

    const auto *srcBits = reinterpret_cast<const std::uint32_t *>(src.constBits());
    job.srcStride = src.isNull() ? 0 : src.bytesPerLine() / 4;
    job.srcBottom = srcBits ? srcBits + std::ptrdiff_t(H - 1) * job.srcStride : nullptr;
    job.dst = reinterpret_cast<std::uint32_t *>(dst.bits());
    job.dstStride = dst.bytesPerLine() / 4;
    RunJob(job, threads);

    auto result = std::make_unique<TBitmap>(dst);
    result->SetPixelFormat(TPixelFormat::pf32bit);
    return result;
}

void MapToRotated(QPoint *points, int highIndex, long double angle, int pictureWidth,
                  int pictureHeight, int rotatedWidth, int rotatedHeight) {
    if (highIndex < 0)
        return;
    RequireFiniteAngle(angle);
    const long double a = NormalizeAngle(angle);
    const long double theta = Radians(a);
    const long double sn = std::sin(theta), cs = std::cos(theta);
    const TCentre centre = CentreOf(rotatedWidth, rotatedHeight, a);
    const std::int32_t hw = pictureWidth / 2, hh = pictureHeight / 2;
    for (int i = 0; i <= highIndex; ++i) {
        // y grows downwards here and upwards in the rotation; the same formula then gives
        // the same visual turn.
        const long double dx = CheckedSub(points[i].x(), hw);
        const long double dy = CheckedSub(points[i].y(), hh);
        points[i] = QPoint(CheckedAdd(RoundHalfEven(dx * cs - dy * sn), centre.cx),
                           CheckedAdd(RoundHalfEven(dx * sn + dy * cs), centre.cy));
    }
}

// ---------------------------------------------------------------------------------------------

TRotateImage::TRotateImage(QWidget *parent)
    : QWidget(parent), FPicture(std::make_unique<TPicture>()),
      FRotated(std::make_unique<TBitmap>()) {
    // A graphic control: what it does not paint shows the parent underneath.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
    FPicture->OnChange = [this] { PictureChanged(); };
    FUniqueSize = true;
    resize(105, 105);
}

TRotateImage::~TRotateImage() {
    FPicture->OnChange = nullptr;
    if (FOwnsSource)
        delete FSource;
    FSource = nullptr;
}

void TRotateImage::SetAlign(TAlign value) {
    if (FAlign == value)
        return;
    FAlign = value;
    FollowParent();
    AdjustSize();
}

void TRotateImage::SetAngle(long double value) {
    // Rejected before storing, so a bad value never sticks to the control.
    RequireFiniteAngle(value);
    if (value == FAngle)
        return;
    FAngle = value;
    if (!FPicture->Graphic() || FLoading)
        return;
    BuildRotated();
    FCacheValid = 0;
    if (FAutoSize && !FUniqueSize)
        AdjustSize();
}

void TRotateImage::SetAutoSize(bool value) {
    if (FAutoSize == value)
        return;
    FAutoSize = value;
    AdjustSize();
}

void TRotateImage::SetCenter(bool value) {
    if (FCenter == value)
        return;
    FCenter = value;
    FCacheValid = 0;
    Invalidate();
}

void TRotateImage::SetColor(TColor value) {
    if (FColor == value)
        return;
    FColor = value;
    Invalidate();
}

void TRotateImage::SetProportional(bool value) {
    if (FProportional == value)
        return;
    FProportional = value;
    FCacheValid = 0;
    Invalidate();
}

void TRotateImage::SetStretch(bool value) {
    if (FStretch == value)
        return;
    FStretch = value;
    FCacheValid = 0;
    Invalidate();
}

void TRotateImage::SetTransparent(bool value) {
    if (FTransparent == value)
        return;
    FTransparent = value;
    // The graphic's change notification rebuilds the turned bitmap with the new setting.
    TGraphic *g = FPicture->Graphic();
    if (g && !KeepsOwnTransparency(g))
        g->SetTransparent(value);
    Invalidate();
}

void TRotateImage::SetUniqueSize(bool value) {
    if (FUniqueSize == value)
        return;
    FUniqueSize = value;
    FCacheValid = 0;
    AdjustSize();
    Invalidate();
}

void TRotateImage::SetLoading(bool value) {
    if (FLoading == value)
        return;
    FLoading = value;
    if (!value)
        Loaded();
}

void TRotateImage::Loaded() {
    PictureChanged();
}

void TRotateImage::Resize() {
    FCacheValid = 0;
}

bool TRotateImage::CanAutoSize(int &newWidth, int &newHeight) {
    if (FAlign == TAlign::alNone || FAlign == TAlign::alLeft || FAlign == TAlign::alRight)
        newWidth = FUniqueSize ? FDiagonal : FRotated->Width();
    if (FAlign == TAlign::alNone || FAlign == TAlign::alTop || FAlign == TAlign::alBottom)
        newHeight = FUniqueSize ? FDiagonal : FRotated->Height();
    return true;
}

void TRotateImage::AdjustSize() {
    if (!FAutoSize || FLoading)
        return;
    int w = width(), h = height();
    if (CanAutoSize(w, h))
        resize(w, h);
}

void TRotateImage::PictureChanged() {
    if (FChanging)
        return;
    // A source that is not ours was the picture's previous graphic, which may be gone now.
    if (!FOwnsSource)
        FSource = nullptr;
    if (FLoading)
        return;
    FChanging = true;
    struct TResetGuard {
        bool &flag;
        ~TResetGuard() { flag = false; }
    } reset{FChanging};

    if (TGraphic *g = FPicture->Graphic()) {
        if (!KeepsOwnTransparency(g))
            g->SetTransparent(FTransparent);
        FDiagonal = DiagonalOf(g->Width(), g->Height());
    } else {
        FDiagonal = 0;
    }
    BuildSource();
    BuildRotated();
    FCacheValid = 0;
    if (FAutoSize && FDiagonal != 0) {
        if (FUniqueSize)
            setGeometry(x(), y(), FDiagonal, FDiagonal);
        else
            setGeometry(x(), y(), FRotated->Width(), FRotated->Height());
    }
}

void TRotateImage::BuildSource() {
    TGraphic *g = FPicture->Graphic();
    std::unique_ptr<TBitmap> made;
    TBitmap *next = nullptr;
    if (g && !g->Empty()) {
        next = dynamic_cast<TBitmap *>(g);
        if (!next) {
            // JPEG, icon, metafile: a 32-bit copy on the control's colour, which also serves
            // as its transparent colour. The flag marks the colour as ours.
            const TColor brush = TColor(std::uint32_t(ColorToRGB(FColor)) | 0x04000000u);
            if (auto *jpeg = dynamic_cast<TJPEGImage *>(g)) {
                // A JPEG covers every pixel opaquely: share its pixels instead of filling a
                // new bitmap and drawing them onto it.
                made = std::make_unique<TBitmap>(jpeg->Image());
                made->SetBrushColor(brush);
            } else {
                made = std::make_unique<TBitmap>();
                made->SetBrushColor(brush);
                made->SetSize(g->Width(), g->Height());
                made->DrawGraphic(*g, QRect(0, 0, g->Width(), g->Height()));
            }
            made->SetPixelFormat(TPixelFormat::pf32bit);
            made->SetTransparentColor(brush);
            made->SetTransparent(g->Transparent());
            next = made.get();
        }
    }
    if (FOwnsSource)
        delete FSource;
    FSource = nullptr;
    FOwnsSource = false;
    if (made) {
        FSource = made.release();
        FOwnsSource = true;
    } else {
        FSource = next;
    }
}

void TRotateImage::BuildRotated() {
    if (FSource) {
        std::unique_ptr<TBitmap> r;
        const long double q = FAngle / 360.0L;
        if (q - std::trunc(q) != 0) {
            const TColor bg =
                TColor(std::uint32_t(FSource->TransparentColor()) & ~PaletteRelativeFlag);
            r = RotateBitmap(*FSource, bg, FAngle);
            r->SetTransparentColor(bg);
            r->SetTransparent(FSource->Transparent());
        } else {
            r = std::make_unique<TBitmap>(*FSource);
        }
        FRotated = std::move(r);
    } else {
        FRotated->SetSize(0, 0);
    }
    Invalidate();
}

TRect TRotateImage::CalcDestRect() const {
    std::int32_t w = FUniqueSize ? FDiagonal : FRotated->Width();
    std::int32_t h = FUniqueSize ? FDiagonal : FRotated->Height();
    const std::int32_t cw = width(), ch = height();
    if (FStretch || (FProportional && (w > cw || h > ch))) {
        if (!FProportional || w <= 0 || h <= 0) {
            w = cw;
            h = ch;
        } else if (static_cast<long double>(ch) / h > static_cast<long double>(cw) / w) {
            h = MulDiv(h, cw, w);
            w = cw;
        } else {
            w = MulDiv(w, ch, h);
            h = ch;
        }
    }
    std::int32_t dw = 0, dh = 0;
    if (FUniqueSize && FDiagonal != 0) {
        // The layout square is the diagonal's; the turned picture fills only its share.
        dw = MulDiv(CheckedSub(FDiagonal, FRotated->Width()), w, FDiagonal);
        dh = MulDiv(CheckedSub(FDiagonal, FRotated->Height()), h, FDiagonal);
        w = CheckedSub(w, dw);
        h = CheckedSub(h, dh);
    }
    std::int32_t ox = 0, oy = 0;
    if (FCenter) {
        ox = CheckedSub(cw, w) / 2;
        oy = CheckedSub(ch, h) / 2;
    } else if (FUniqueSize && FDiagonal > 0) {
        ox = dw / 2;
        oy = dh / 2;
    }
    return TRect{ox, oy, CheckedAdd(w, ox), CheckedAdd(h, oy)};
}

void TRotateImage::CheckCacheSize() {
    // A hidden widget gets its resize event only when shown, so the size the cache was made
    // for is remembered as well.
    if (size() != FCacheSize) {
        FCacheValid = 0;
        FCacheSize = size();
    }
}

TRect TRotateImage::GetDestRect() {
    CheckCacheSize();
    if (!(FCacheValid & DestRectValid)) {
        FDestRect = CalcDestRect();
        FCacheValid |= DestRectValid;
    }
    return FDestRect;
}

void TRotateImage::BuildClipRgn() {
    FClipOutline.clear();
    FClipRgn = QRegion();
    if (!FSource || FRotated->Empty())
        return;
    const int sw = FPicture->Width(), sh = FPicture->Height();
    QPoint points[4] = {{0, 0}, {sw, 0}, {sw, sh}, {0, sh}};
    const TRect d = GetDestRect();
    const float sx = float(static_cast<long double>(d.Right - d.Left) / FRotated->Width());
    const float sy = float(static_cast<long double>(d.Bottom - d.Top) / FRotated->Height());
    MapToRotated(points, 3);
    for (QPoint &p : points)
        p = QPoint(RoundHalfEven(static_cast<long double>(p.x()) * sx + d.Left),
                   RoundHalfEven(static_cast<long double>(p.y()) * sy + d.Top));
    FClipOutline = QPolygon({points[0], points[1], points[2], points[3]});
    FClipRgn = QRegion(FClipOutline, Qt::OddEvenFill);
}

const QRegion &TRotateImage::GetClipRgn() {
    CheckCacheSize();
    if (!(FCacheValid & ClipRgnValid)) {
        BuildClipRgn();
        FCacheValid |= ClipRgnValid;
    }
    return FClipRgn;
}

const QPolygon &TRotateImage::ClipOutline() {
    GetClipRgn();
    return FClipOutline;
}

void TRotateImage::MapToRotated(QPoint *points, int highIndex) const {
    ::MapToRotated(points, highIndex, FAngle, FPicture->Width(), FPicture->Height(),
                   FRotated->Width(), FRotated->Height());
}

void TRotateImage::paintEvent(QPaintEvent *) {
    if (FRotated->Empty())
        return;
    QPainter painter(this);
    if (!FRotated->Transparent()) {
        const QRegion &clip = GetClipRgn();
        if (!clip.isEmpty())
            painter.setClipRegion(clip);
    }
    FRotated->Draw(painter, GetDestRect().ToQRect());
}

void TRotateImage::resizeEvent(QResizeEvent *event) {
    Resize();
    QWidget::resizeEvent(event);
}

void TRotateImage::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton)
        FPressed = true;
    QWidget::mousePressEvent(event);
}

void TRotateImage::mouseReleaseEvent(QMouseEvent *event) {
    const bool click = FPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    FPressed = false;
    if (click && OnClick)
        OnClick();
    QWidget::mouseReleaseEvent(event);
}

void TRotateImage::mouseDoubleClickEvent(QMouseEvent *event) {
    // The release that ends a double click is not another click.
    FPressed = false;
    if (event->button() == Qt::LeftButton && OnDblClick)
        OnDblClick();
    else
        QWidget::mouseDoubleClickEvent(event);
}

void TRotateImage::FollowParent() {
    QWidget *parent = FAlign == TAlign::alClient ? parentWidget() : nullptr;
    if (FWatchedParent != parent) {
        if (FWatchedParent)
            FWatchedParent->removeEventFilter(this);
        FWatchedParent = parent;
        if (parent)
            parent->installEventFilter(this);
    }
    if (parent)
        setGeometry(parent->contentsRect());
}

bool TRotateImage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == FWatchedParent && event->type() == QEvent::Resize)
        setGeometry(FWatchedParent->contentsRect());
    return QWidget::eventFilter(watched, event);
}

bool TRotateImage::event(QEvent *event) {
    if (event->type() == QEvent::ParentChange)
        FollowParent();
    return QWidget::event(event);
}
