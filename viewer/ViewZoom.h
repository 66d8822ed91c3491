// The viewer's zoom: the fitted view as the picture control lays it out, or a zoom where 100 %
// is one picture pixel per device pixel, moved by dragging and the arrow keys. The zoom and the
// spot it shows stay when the viewer steps to another picture. At a zoom the picture is shown
// from the file at its full size, decoded in the background when the zoom first asks for it;
// until then the fitted view stays. A file that cannot be decoded whole is shown enlarged from
// the copy already shown.
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>

#include <string>

#include "RotImg.h"
#include "ZoomImage.h"

class QKeyEvent;
class TFullPictureRequest;

class TViewZoom : public QObject {
public:
    // image is the viewer's picture control; the zoomed view is laid over it in its parent.
    explicit TViewZoom(TRotateImage *image);
    ~TViewZoom() override;

    // A picture was opened; the control shows a copy fitted to the screen.
    void Opened(const std::string &path);
    // The control's picture was turned a quarter.
    void Turned(bool counterClockwise);

    // Z toggles between the fitted view and 100 %, + and - zoom in steps, and the arrow
    // keys move along an axis where the zoomed picture is larger than the view. False for any
    // other key (so Left and Right step through the pictures when there is nothing to move).
    bool Key(QKeyEvent *event);

    void ToggleFit();
    void Step(int direction);
    // Zooms a step while the picture point under point (device pixels of the view) stays put.
    void StepAbout(int direction, QPointF point);
    // Moves the view over the picture by delta device pixels.
    void Pan(QPointF delta);

    bool Fitted() const { return FFitted; }
    // Device pixels per pixel of the full picture.
    double Scale() const { return FZoom.Scale; }
    TZoomImage *View() const { return FView; }
    // True while the full picture is being decoded.
    bool Decoding() const { return FRequest != nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The full picture's size as it is seen, turned; empty when not known.
    QSize SeenSize() const;
    int QuarterTurns() const;
    // The scale at which the fitted view shows the full picture.
    double FitScale() const;
    void Show();
    void RequestFull();
    void FullDone(TFullPictureRequest *request);
    void KillRequest();

    TRotateImage *FImage;
    TZoomImage *FView;
    bool FFitted = true;
    TZoomView FZoom;
    std::string FPath;
    QImage FFull; // upright
    bool FFullFailed = false;
    QImage FTurned; // FFull as seen, made once per turn
    int FTurnedQuarters = -1;
    TFullPictureRequest *FRequest = nullptr; // frees itself when its run ends
    QPoint FDragFrom;
    bool FDragging = false;
};
