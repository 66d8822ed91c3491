// The borderless black window that shows the viewer's current picture over the whole screen
// during a slideshow. Its picture is written only by the viewer; closing it ends the slideshow.
#pragma once

#include <QFrame>

#include "Forms.h"
#include "RotImg.h"

class Tfullform : public TForm {
    Q_OBJECT
public:
    explicit Tfullform(QWidget *parent = nullptr);
    ~Tfullform() override;

    QFrame *Panel1;
    TRotateImage *RImage2;

    // Shown over the whole screen and brought to the front.
    void ShowFullScreen();
    void RImage2DblClick();

protected:
    void FormClose() override;
    void keyPressEvent(QKeyEvent *event) override;
    // While hidden, the picture control only keeps the pictures it is given; it builds the
    // one to show when the window appears, so the viewer does not pay twice for each picture.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};

extern Tfullform *fullform;
