// The viewer window (to be filled: picture, turns, next/previous, slideshow).
#pragma once

#include "Forms.h"

class TviewForm : public TForm {
    Q_OBJECT
public:
    explicit TviewForm(QWidget *parent = nullptr);
    void BtnBrowseClick();
};

extern TviewForm *viewForm;
