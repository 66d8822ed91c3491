// The full-screen slideshow window (to be filled).
#pragma once

#include "Forms.h"

class Tfullform : public TForm {
    Q_OBJECT
public:
    explicit Tfullform(QWidget *parent = nullptr);
};

extern Tfullform *fullform;
