// The picture control that shows a picture turned by any angle. The rotation it rests on is
// in RotateBitmap.h.
#pragma once

#include <QPoint>
#include <QPolygon>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "Graphics.h"
#include "RotateBitmap.h"

// How a control sits in its parent; here it only decides which sides AutoSize may change
// (alClient additionally makes the control follow its parent's contents rectangle).
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

// Left, Top, Right, Bottom with Right and Bottom exclusive, as the drawing calls take them.
struct TRect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    friend bool operator==(const TRect &, const TRect &) = default;
};

// Shows the graphic of Picture turned by Angle, placed by Center, Stretch, Proportional and
// UniqueSize, drawn transparently or clipped to the turned outline. The turned bitmap is built
// once per change of picture or angle; painting only stretches it. The widget never fills its
// background: what it does not draw shows the parent.
class TRotateImage : public QWidget {
    Q_OBJECT
public:
    explicit TRotateImage(QWidget *parent = nullptr);
    ~TRotateImage() override;

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value);
    long double Angle() const { return FAngle; }
    void SetAngle(long double value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool Center() const { return FCenter; }
    void SetCenter(bool value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TPicture &Picture() { return *FPicture; }
    void SetPicture(const TPicture &value) { FPicture->Assign(value); }
    bool Proportional() const { return FProportional; }
    void SetProportional(bool value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool UniqueSize() const { return FUniqueSize; }
    void SetUniqueSize(bool value);

    // While loading, picture and angle changes are only stored; ending the load builds once.
    bool Loading() const { return FLoading; }
    void SetLoading(bool value);

    std::function<void()> OnClick;
    std::function<void()> OnDblClick;

    // Always true; sets the sides Align lets AutoSize change to the picture's diagonal
    // (UniqueSize) or to the turned bitmap's size.
    virtual bool CanAutoSize(int &newWidth, int &newHeight);

    // The rectangle FRotated is stretched into and the turned picture's outline inside it,
    // both in client coordinates; computed on first use after a change, then cached.
    TRect GetDestRect();
    const QRegion &GetClipRgn();
    const QPolygon &ClipOutline();

    // Maps top-down picture points into the current turned bitmap.
    void MapToRotated(QPoint *points, int highIndex) const;

    int Diagonal() const { return FDiagonal; }
    const TBitmap &Rotated() const { return *FRotated; }
    const TBitmap *Source() const { return FSource; }

protected:
    virtual void Loaded();
    virtual void Resize();

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    enum : unsigned { DestRectValid = 1, ClipRgnValid = 2 };

    void PictureChanged();
    void BuildSource();
    void BuildRotated();
    TRect CalcDestRect() const;
    void BuildClipRgn();
    void AdjustSize();
    void CheckCacheSize();
    void FollowParent();
    void Invalidate() { update(); }

    std::unique_ptr<TPicture> FPicture;
    bool FStretch = false;
    bool FCenter = false;
    bool FTransparent = false;
    bool FProportional = false;
    long double FAngle = 0;
    bool FUniqueSize = true;
    std::int32_t FDiagonal = 0;
    std::unique_ptr<TBitmap> FRotated;
    TBitmap *FSource = nullptr;
    bool FOwnsSource = false;
    TRect FDestRect;
    QPolygon FClipOutline;
    QRegion FClipRgn;
    unsigned FCacheValid = 0;
    QSize FCacheSize;
    bool FChanging = false;

    TAlign FAlign = TAlign::alNone;
    bool FAutoSize = false;
    TColor FColor = clWindow;
    bool FLoading = false;
    bool FPressed = false;
    QWidget *FWatchedParent = nullptr;
};
