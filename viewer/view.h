// The viewer window: one picture of the browsed folder shown large, turned in quarter turns,
// stepped through the main window's list with wrap-around, and the slideshow that feeds the
// full-screen window.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <QKeySequence>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Forms.h"
#include "RotImg.h"
#include "ViewerBrowser.h"

// Posted by the viewer to itself, so the shell is asked for a picture only once the window
// is on the screen and its picture control has its final size.
constexpr UINT WM_SHOWTHUMBNAIL = WM_USER + 3; // 1027

// The RAW file whose preview the next extraction writes.
extern std::string ViewerRawPath;

// The JPEG scale denominator (1, 2, 4 or 8) at which a width x height preview still has at
// least as many pixels as any proportional fit on a screen of the given size shows of it,
// upright or turned a quarter: the previews of today's cameras are far larger than a screen,
// and decoding them smaller is several times faster.
int PreviewScaleDenom(int width, int height, QSize screen);

class TViewerShellRequest;
class TViewerRawRequest;
class TViewZoom;
class TMetaWorker;
class TReadAhead;
struct TScreenRequest;

class TviewForm : public TForm {
    Q_OBJECT
public:
    explicit TviewForm(QWidget *parent = nullptr);
    ~TviewForm() override;

    // Components, named as on the window.
    QFrame *Panel1;            // the white top bar with the speed buttons
    QToolButton *SpeedButton1; // next
    QToolButton *SpeedButton2; // previous
    QToolButton *SpeedButton3; // slideshow
    QToolButton *SpeedButton4; // rotate clockwise
    QToolButton *SpeedButton5; // rotate counter-clockwise
    QFrame *Panel2;            // the white picture panel
    TRotateImage *RImage1;
    QTimer *Timer1;
    QLabel *LabelPosition; // "12 of 164": where the picture is in the list
    // Never seen by the user: they carry state and duplicate the speed buttons.
    QPushButton *BtnBrowse;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QPushButton *Button4;
    QLabel *Label1;
    QLineEdit *Edit1;
    QPlainTextEdit *Memo1;
    QComboBox *ComboBox1;
    QLabel *Label2;
    QLabel *Label3;
    QCheckBox *CheckBox1;
    QCheckBox *CheckBox2;
    QCheckBox *CheckBox3;
    QCheckBox *CheckBox4;
    QCheckBox *CheckBox5;

    void FormCreate();
    // The browser window whose list and selected picture the viewer shows.
    void SetBrowser(IViewerBrowser *browser) { FBrowser = browser; }
    // Opens the selected picture of the browser's list. Does nothing when no entry is
    // selected.
    void BtnBrowseClick();
    // Opens path as the open routine opens a selected entry, captioned with the entry's name:
    // for a picture the list does not hold yet (a start on a file, before its folder's scan).
    void OpenPicture(const std::string &path, const std::string &entryCaption);
    // Sends the extraction of ViewerRawPath's preview to the decoding helper, on a thread of
    // its own: the preview goes through the viewer's temporary preview file and arrives in both
    // picture controls (or the file's icon, when it has none) once made. The memo says
    // "Extracting..." until then; a later open supersedes it and stops its helper.
    void BikinRaw();
    // True while the opened RAW file's preview is still to arrive.
    bool RawRequestRunning() const { return FRawRequest != nullptr || !FRawAwaited.empty(); }
    // Asks the shell for a picture of path at the picture control's size, on a thread of its
    // own: the window never waits for a decode, which another thread may hold for seconds. The
    // memo says "Extracting..." until the picture (or the file's icon) is shown; a newer request
    // or the program's end kills the running one, whose result is then dropped.
    void ShowShellThumbnail(const std::string &path);
    // The picture control's size in device pixels, the size the shell renders for.
    QSize ShellRequestSize() const;
    // True while a shell request runs.
    bool ShellRequestRunning() const { return FShellRequest != nullptr; }
    unsigned ExtractFlags() const;
    int PixelFormatBits() const;
    void CheckBox1Click(QCheckBox *sender);

    // Reading ahead: on by default; off drops what is held and decodes every picture when it
    // is opened.
    void SetReadAhead(bool on);
    TReadAhead *ReadAhead() const { return FReadAhead.get(); }
    // What the viewer would show of path now, as the read-ahead decodes it.
    TScreenRequest ScreenRequest(const std::string &path) const;
    // The browser lists folder (again): another folder's pictures are no longer read ahead.
    void BrowserFolder(const std::string &folder);
    // Once the events in hand have run, the neighbours of the selected entry in the direction
    // of travel are read ahead. Every open asks for it.
    void ScheduleReadAhead();

    // Turns: clockwise is a negative angle.
    void SpeedButton4Click();
    void Button1Click();
    void SpeedButton5Click();
    // Next and Previous wrap around; with no selection Next opens the first entry and Previous
    // the last; with an empty list they do nothing.
    void Button2Click();
    void SpeedButton1Click();
    void Button3Click();
    void SpeedButton2Click();
    // Slideshow: shows the full-screen window and starts the timer; closing that window ends it.
    void Button4Click();
    void SpeedButton3Click();
    void Timer1Timer();
    // Full screen and back, without the slideshow.
    void ToggleFullScreen();
    TViewZoom *Zoom() const { return FZoom.get(); }

    // Culling (ViewCulling.cpp): keys 0-9 and X mark the shown picture, I shows or hides its
    // shooting information, Delete moves it to the trash and shows the next, Ctrl+Z undoes.
    void MarkShown(char key);
    void ToggleShootingInfo();
    void DeleteShown();
    void UndoDelete();
    QLabel *InfoPanel() const { return FInfoPanel; }
    // True while marks or shooting information are being read.
    bool MetaBusy() const;

protected:
    void WndProc(TMessage &message) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    IViewerBrowser *FBrowser = nullptr;
    void BuildLayout();
    // Binds keys to a command; a button that runs the same command shows them in its hint.
    void BindKeys(QToolButton *button, const QList<QKeySequence> &keys, std::function<void()> run);
    void WMShowThumbnail();
    // Selects index in the main window's list and opens the picture that entry stands for.
    void OpenEntry(int index);
    void Step(int delta);
    // The first entry, or the last: culling a card goes back to its start or on to its end.
    void JumpToEnd(bool last);
    // The file's icon in place of a picture; the full-screen window keeps what it shows.
    void ShowDefaultIcon(const std::string &path);

    void RequestShellThumbnail();
    void ShowShellPicture(const std::string &path, bool made, const TBitmap *bitmap, DWORD flags);
    void ReadAheadAround();
    void KillShellRequest();
    void KillRawRequest();
    // The preview of the RAW file path in both picture controls, unturned; its icon when null.
    void ShowRawPreview(const std::string &path, const QImage &image);
    // A read-ahead decode ended: the one a step waits for may be ready.
    void ReadAheadDecoded();

    void SetUpCulling();
    // The opened picture's marks in the caption, its information in the panel when shown.
    void ShowCulling(const std::string &path);
    void ShowMarksCaption(const std::string &marks);
    QLabel *FInfoPanel = nullptr;
    TMetaWorker *FMetaWorker = nullptr;
    std::string FCullingPath;
    std::string FCaptionBase;

    // The file the shell renders for the current picture (empty when it came another way),
    // and the size it was rendered for: a picture control that changes size (the window being
    // maximised after it was shown) asks again.
    std::string FShellPath;
    QSize FShellSize;
    bool FShellThumbnailPending = false;
    TViewerShellRequest *FShellRequest = nullptr; // frees itself when its run ends
    // True while the picture shown is the shell's of FShellPath at FShellSize.
    bool FShellPictureCurrent = false;

    TViewerRawRequest *FRawRequest = nullptr; // frees itself when its run ends
    std::string FRawAwaited; // the RAW file whose read-ahead decode a step waits for

    std::unique_ptr<TReadAhead> FReadAhead;
    int FDirection = +1; // of the last step: +1 forward, -1 back
    bool FReadAheadPending = false;
    std::string FBrowserFolder;

    struct TKeyBinding {
        QList<QKeySequence> Keys;
        std::function<void()> Run;
    };
    std::vector<TKeyBinding> FKeys;
    std::unique_ptr<TViewZoom> FZoom;
};

extern TviewForm *viewForm;
