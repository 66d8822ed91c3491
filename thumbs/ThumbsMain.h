// The thumbnail creator: a window (never shown by the program) that holds the thumbnail
// settings of the browser's RAW pass and turns the listed JPEG files into the NAME.EXT.JPG
// thumbnail file of the RAW file it is given, through the conversion the pass uses.
#pragma once

#include <QLabel>
#include <QWidget>

#include <string>

#include "Forms.h"
#include "Graphics.h"
#include "RawConverter.h"
#include "ThumbnailFile.h"

class QFrame;
class QColorDialog;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QToolButton;

// An up-down control attached to an edit: its position is the edit's number while that is a
// whole number in range, else the last valid position; the arrows step it by one.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit *associate, int min, int max, int position, QWidget *parent);
    int Position() const;
    void SetPosition(int position);
    int Min() const { return FMin; }
    int Max() const { return FMax; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLineEdit *FAssociate;
    int FMin;
    int FMax;
    mutable int FPosition;
};

// A rectangle filled with its brush colour.
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget *parent);
    TColor BrushColor() const { return FBrushColor; }
    void SetBrushColor(TColor color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TColor FBrushColor = clWhite;
};

// A label that acts as a link: blue, underlined, hand cursor, clicked on a left click.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    TLinkLabel(const QString &text, QWidget *parent);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class TthumbForm1 : public TForm {
    Q_OBJECT
public:
    explicit TthumbForm1(QWidget *parent = nullptr);

    // The thumbnail settings: the up-down controls' box, Shape1's colour and the prefix.
    TThumbSettings Settings() const;
    // The RAW file in folder that Create names the thumbnail after.
    void SetRawFile(const std::string &folder, const std::string &name);

    // Adds the scan's temporary preview file to FilesListBox unless it is listed already.
    void LoadButtonClick();
    // Converts every listed file into the thumbnail of the RAW file (MakeRawThumbnail with
    // Settings()), processes the pending window messages after each and shows "Done i of N";
    // an empty list does nothing.
    // The first failure ends the run and its exception reaches the caller, which can catch it
    // per RAW file and name the file: the exceptions of MakeThumbnailFile (EFOpenError for a
    // missing preview, EJPEG for a broken one, ...), or Exception "..." exists and was not made
    // by Pixavant; left as it is" for a picture of the thumbnail's name that is not ours.
    void CreateButtonClick();
    void SpeedButton1Click(); // the fill colour
    void SpeedButton2Click(); // the output folder (not used by Create)
    void Label9Click();
    void Label10Click();

    // The source file name of entry i of FilesListBox, in the file system's bytes.
    std::string FileEntry(int i) const;
    std::string StatusText() const;

    QFrame *Bevel1;
    QLabel *Label4;
    QListWidget *FilesListBox;
    QPushButton *LoadButton;
    QFrame *Bevel2;
    QLabel *Label5;
    QLabel *Label1;
    QLineEdit *WidthEdit;
    TUpDown *WidthUpDown;
    QLabel *Label2;
    QLineEdit *HeightEdit;
    TUpDown *HeightUpDown;
    QLabel *Label3;
    TShape *Shape1;
    QToolButton *SpeedButton1;
    QLabel *Label6;
    QLineEdit *PrefixEdit;
    QLabel *Label7;
    QLineEdit *OutDirEdit;
    QToolButton *SpeedButton2;
    QPushButton *CreateButton;
    QFrame *Bevel3;
    QLabel *Label8;
    QLabel *Label11;
    TLinkLabel *Label9;
    TLinkLabel *Label10;
    QStatusBar *StatusBar1;
    QColorDialog *ColorDialog;

private:
    std::string FRawFolder;
    std::string FRawFile;
};

extern TthumbForm1 *thumbForm1; // created at start-up
