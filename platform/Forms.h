// The base of the program's windows: a top-level widget with a window handle for messages,
// a caption in the file system's bytes, and the Show/Close behaviour of secondary windows.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "Messages.h"

class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget *parent = nullptr);

    HWND Handle() const { return FHandle.Handle(); }
    std::string Caption() const { return FCaption; }
    void SetCaption(const std::string &caption);
    // Made visible and brought to the front, not modal.
    void Show();
    // The standard close: OnClose handlers run, then the window hides.
    void Close() { close(); }

protected:
    // The window's own messages (ids of WM_USER and above), dispatched on the GUI thread.
    virtual void WndProc(TMessage &) {}
    // Runs for every close; the window hides afterwards.
    virtual void FormClose() {}
    void closeEvent(QCloseEvent *event) override;

private:
    std::string FCaption;
    TWindowHandle FHandle;
};

// Tag values carried by controls (the check boxes' flag bits).
void SetTag(QObject *control, int tag);
int Tag(const QObject *control);

// The desktop's general font, which replaces the designed fonts.
QFont DefaultGuiFont();
