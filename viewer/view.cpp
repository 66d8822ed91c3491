#include "view.h"

TviewForm *viewForm = nullptr;

TviewForm::TviewForm(QWidget *parent) : TForm(parent)
{
    if (!viewForm)
        viewForm = this;
    SetCaption("Pixavant");
}

void TviewForm::BtnBrowseClick() {}
