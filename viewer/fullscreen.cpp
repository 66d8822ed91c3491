#include "fullscreen.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>

#include "view.h"

Tfullform *fullform = nullptr;

Tfullform::Tfullform(QWidget *parent) : TForm(parent) {
    if (!fullform)
        fullform = this;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    SetCaption("fullform");
    setFont(DefaultGuiFont());
    resize(347, 240);

    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::NoFrame);
    Panel1->setPalette(black);
    Panel1->setAutoFillBackground(true);
    layout->addWidget(Panel1);

    RImage2 = new TRotateImage(Panel1);
    RImage2->SetCenter(true);
    RImage2->SetProportional(true);
    RImage2->SetUniqueSize(false);
    RImage2->SetStretch(false);
    RImage2->SetTransparent(false);
    RImage2->SetColor(clBlack); // the panel's colour
    RImage2->SetAlign(TAlign::alClient);
    RImage2->OnDblClick = [this] { RImage2DblClick(); };
    RImage2->SetLoading(true); // hidden until the slideshow shows it

    setWindowState(Qt::WindowFullScreen);
}

Tfullform::~Tfullform() {
    if (fullform == this)
        fullform = nullptr;
}

void Tfullform::ShowFullScreen() {
    // Covers the viewer's screen also where no window manager applies the full-screen state;
    // a window closed while full screen may come back in its normal state.
    QScreen *target = viewForm ? viewForm->screen() : QGuiApplication::primaryScreen();
    if (target)
        setGeometry(target->geometry());
    setWindowState(windowState() | Qt::WindowFullScreen);
    Show();
}

void Tfullform::RImage2DblClick() {
    Close();
}

void Tfullform::FormClose() {
    if (viewForm)
        viewForm->Timer1->stop();
}

void Tfullform::showEvent(QShowEvent *event) {
    RImage2->SetLoading(false);
    TForm::showEvent(event);
}

void Tfullform::hideEvent(QHideEvent *event) {
    TForm::hideEvent(event);
    RImage2->SetLoading(true);
}

void Tfullform::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        Close();
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!viewForm)
            break;
        // A picture chosen by hand gets its full five seconds.
        if (viewForm->Timer1->isActive())
            viewForm->Timer1->start();
        if (event->key() == Qt::Key_Left)
            viewForm->Button3Click();
        else
            viewForm->Button2Click();
        break;
    default:
        TForm::keyPressEvent(event);
    }
}
