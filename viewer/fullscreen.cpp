#include "fullscreen.h"

Tfullform *fullform = nullptr;

Tfullform::Tfullform(QWidget *parent) : TForm(parent)
{
    if (!fullform)
        fullform = this;
    SetCaption("fullform");
}
