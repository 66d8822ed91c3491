// The rotating picture control: layout, outline and painting of the turned bitmap.
#include "RotImg.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "Exceptions.h"

using namespace rotation;

namespace {

bool KeepsOwnTransparency(const TGraphic *g) {
    return dynamic_cast<const TIcon *>(g) != nullptr;
}

} // namespace

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
            h = CheckedMulDiv(h, cw, w);
            w = cw;
        } else {
            w = CheckedMulDiv(w, ch, h);
            h = ch;
        }
    }
    std::int32_t dw = 0, dh = 0;
    if (FUniqueSize && FDiagonal != 0) {
        // The layout square is the diagonal's; the turned picture fills only its share.
        dw = CheckedMulDiv(CheckedSub(FDiagonal, FRotated->Width()), w, FDiagonal);
        dh = CheckedMulDiv(CheckedSub(FDiagonal, FRotated->Height()), h, FDiagonal);
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
        // The outline is always the clip: an outline without area (a thin picture turned)
        // draws nothing rather than the whole turned bitmap with its corners.
        const QRegion &clip = GetClipRgn();
        if (clip.isEmpty())
            return;
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
