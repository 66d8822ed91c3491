#include "ViewZoom.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTransform>
#include <QWheelEvent>

#include <atomic>
#include <chrono>
#include <cmath>

#include "FullPicture.h"
#include "Thread.h"

// One full-size decode for the zoom. Kill stops it at its next step; the result is read on the
// GUI thread once the run has ended.
class TFullPictureRequest : public TThread {
public:
    explicit TFullPictureRequest(std::string path) : Path(std::move(path)) {
        FreeOnTerminate = true;
    }
    void Kill() {
        Terminate();
        FKilled = true;
    }

    const std::string Path;
    QImage Picture;
    bool Made = false;

protected:
    void Execute() override {
        // Far longer than any real picture takes; a hostile one is cut off.
        const TStop stop(FKilled, std::chrono::seconds(60));
        Made = DecodeFullPicture(Path, stop, Picture) == TDecodeResult::Ok && !Picture.isNull();
    }

private:
    std::atomic<bool> FKilled{false};
};

TViewZoom::TViewZoom(TRotateImage *image) : FImage(image) {
    QWidget *panel = image->parentWidget();
    FView = new TZoomImage(panel);
    FView->hide();
    FView->setGeometry(panel->contentsRect());
    panel->installEventFilter(this);
    FImage->installEventFilter(this);
    FView->installEventFilter(this);
    // The program's end waits for running threads: a picture still being made is not worth it.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { KillRequest(); });
}

TViewZoom::~TViewZoom() {
    KillRequest();
}

void TViewZoom::Opened(const std::string &path) {
    KillRequest();
    FPath = path;
    FFull = QImage();
    FFullFailed = false;
    FTurned = QImage();
    RequestFull();
    Show();
}

void TViewZoom::Turned(bool counterClockwise) {
    FZoom.Centre = zoom::TurnedCentre(FZoom.Centre, counterClockwise);
    Show();
}

int TViewZoom::QuarterTurns() const {
    const long long q = std::llround(double(FImage->Angle() / 90));
    return int(((q % 4) + 4) % 4);
}

QSize TViewZoom::SeenSize() const {
    if (FFull.isNull()) // not known yet: the copy shown stands for it
        return QSize(FImage->Rotated().Width(), FImage->Rotated().Height());
    return QuarterTurns() % 2 ? FFull.size().transposed() : FFull.size();
}

double TViewZoom::FitScale() const {
    const QSize seen = SeenSize();
    if (seen.isEmpty())
        return 1;
    return FImage->GetDestRect().Width() * FImage->devicePixelRatioF() / seen.width();
}

void TViewZoom::Show() {
    const bool dragging = FDragging;
    FDragging = false;
    if (FFitted) {
        FView->hide();
        FImage->show();
        return;
    }
    QImage seen;
    const int quarters = QuarterTurns();
    if (!FFull.isNull()) {
        if (FTurnedQuarters != quarters) {
            // Exact quarter turns: at 100 % every pixel is seen as it is.
            FTurned = quarters ? FFull.transformed(QTransform().rotate(-90.0 * quarters)) : FFull;
            FTurnedQuarters = quarters;
        }
        seen = FTurned;
    } else if (FFullFailed && !FImage->Rotated().Empty()) {
        seen = FImage->Rotated().Image(); // the file cannot be read whole: enlarge what is shown
    } else {
        // Waiting for the full picture, whose size is not known yet.
        FView->hide();
        FImage->show();
        return;
    }
    FZoom.Centre = zoom::ClampCentre(FView->DeviceSize(), SeenSize(), FZoom.Scale, FZoom.Centre);
    FView->SetPicture(seen, TZoomView{FZoom.Scale, FZoom.Centre});
    const bool movable =
        zoom::Overflows(FView->DeviceSize(), SeenSize(), FZoom.Scale, Qt::Horizontal) ||
        zoom::Overflows(FView->DeviceSize(), SeenSize(), FZoom.Scale, Qt::Vertical);
    FView->setCursor(movable ? (dragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor)
                             : Qt::ArrowCursor);
    FDragging = dragging && movable;
    FView->show();
    FView->raise();
    FImage->hide();
}

void TViewZoom::RequestFull() {
    if (FFitted || !FFull.isNull() || FFullFailed || FRequest || FPath.empty())
        return;
    auto *request = new TFullPictureRequest(FPath);
    request->SetOnTerminate(
        this, [this](TThread *thread) { FullDone(static_cast<TFullPictureRequest *>(thread)); });
    FRequest = request;
    request->Resume();
}

void TViewZoom::FullDone(TFullPictureRequest *request) {
    if (request != FRequest)
        return;
    FRequest = nullptr;
    if (request->Path != FPath)
        return;
    if (request->Made) {
        FFull = request->Picture;
        FTurnedQuarters = -1;
    } else {
        FFullFailed = true;
    }
    Show();
}

void TViewZoom::KillRequest() {
    if (FRequest) {
        FRequest->Kill();
        FRequest->OnTerminate = nullptr; // its picture is for a file no longer shown
        FRequest = nullptr;
    }
}

void TViewZoom::ToggleFit() {
    if (FFitted) {
        FFitted = false;
        FZoom.Scale = 1;
        RequestFull();
    } else {
        FFitted = true;
    }
    Show();
}

void TViewZoom::Step(int direction) {
    const QSize view = FView->DeviceSize();
    StepAbout(direction, QPointF(view.width() / 2.0, view.height() / 2.0));
}

void TViewZoom::StepAbout(int direction, QPointF point) {
    // The fitted view is centred: zooming from it starts at its scale and its middle.
    const TZoomView from = FFitted ? TZoomView{FitScale(), {0.5, 0.5}} : FZoom;
    FZoom = zoom::ZoomAbout(FView->DeviceSize(), SeenSize(), from,
                            zoom::NextStep(from.Scale, direction), point);
    FFitted = false;
    RequestFull();
    Show();
}

void TViewZoom::Pan(QPointF delta) {
    if (FFitted)
        return;
    FZoom = zoom::Panned(FView->DeviceSize(), SeenSize(), FZoom, delta);
    Show();
}

bool TViewZoom::Key(QKeyEvent *event) {
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier | Qt::ShiftModifier);
    if (modifiers != Qt::NoModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Z: // not 1 as well: the digits are the star ratings, in the grid as here
        ToggleFit();
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        Step(+1);
        return true;
    case Qt::Key_Minus:
        Step(-1);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (FFitted || !FView->isVisible())
            return false;
        const bool across = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
        const QSize view = FView->DeviceSize();
        if (!zoom::Overflows(view, SeenSize(), FZoom.Scale, across ? Qt::Horizontal : Qt::Vertical))
            return false;
        // An eighth of the view a press: small enough to follow, large enough to get on.
        const double sign = event->key() == Qt::Key_Left || event->key() == Qt::Key_Up ? -1.0 : 1.0;
        Pan(across ? QPointF(sign * view.width() / 8.0, 0)
                   : QPointF(0, sign * view.height() / 8.0));
        return true;
    }
    default:
        return false;
    }
}

bool TViewZoom::eventFilter(QObject *watched, QEvent *event) {
    if (watched == FImage->parentWidget()) {
        if (event->type() == QEvent::Resize) {
            FView->setGeometry(FImage->parentWidget()->contentsRect());
            if (!FFitted)
                Show();
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        const int turn = wheel->angleDelta().y();
        if (!(wheel->modifiers() & Qt::ControlModifier) || turn == 0)
            return false;
        // FImage and FView cover the same rectangle.
        StepAbout(turn > 0 ? +1 : -1,
                  wheel->position() * static_cast<QWidget *>(watched)->devicePixelRatioF());
        return true;
    }
    case QEvent::MouseButtonPress:
        if (watched == FView && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            FDragFrom = static_cast<QMouseEvent *>(event)->position().toPoint();
            FDragging = true;
            Show();
            return true;
        }
        return false;
    case QEvent::MouseMove:
        if (watched == FView && FDragging) {
            const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
            // The picture follows the hand.
            Pan(QPointF(FDragFrom - at) * FView->devicePixelRatioF());
            FDragFrom = at;
            return true;
        }
        return false;
    case QEvent::MouseButtonRelease:
        if (watched == FView && FDragging) {
            FDragging = false;
            Show();
            return true;
        }
        return false;
    default:
        return false;
    }
}
