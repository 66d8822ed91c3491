// The About window: product, version, support link, and the owner the computer is registered
// to.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <string>

#include "Forms.h"

class TAboutform : public TForm {
    Q_OBJECT
public:
    explicit TAboutform(QWidget *parent = nullptr);

    QGroupBox *GroupBox2;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QGroupBox *GroupBox3;
    QLabel *Label8;
    QGroupBox *GroupBox4;
    QLabel *Label9;
    QLabel *Label10;
    QLabel *Label11;
    QLabel *Label12;
    QLabel *Label13;
    QPushButton *SpeedButton2 = nullptr; // made last: the layout waits for it

    void FormShow();
    void Label8Click();
    void SpeedButton2Click();
    // Places the controls at their designed places, moved down and the frames grown only as
    // far as the current font needs for every text to fit.
    void FitTexts();

    // The maker's web site: a bare host name, as the link opens it.
    static constexpr const char *WebAddress = "pixavant.example.org";

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

extern TAboutform *Aboutform;

// One registry string of "SOFTWARE\Microsoft\Windows NT\CurrentVersion" under
// HKEY_LOCAL_MACHINE; empty when the key or the value cannot be read or is 256 bytes or longer.
std::string ReadRegistryString(const char *valueName);
