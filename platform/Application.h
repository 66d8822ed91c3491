// The application object: title, the main window, the default exception handler and message
// processing.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>
#include <string>

class QWidget;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    const std::string &Title() const { return FTitle; }
    void SetTitle(const std::string &title);

    // The first form created becomes the main window.
    QWidget *MainForm() const { return FMainForm; }
    void SetMainForm(QWidget *form) { FMainForm = form; }

    // The default exception handler: the message in a message box, the program goes on.
    void HandleException(const std::exception &e);
    // Runs the pending events of this thread's queue.
    static void ProcessMessages();
    // Ends the message loop.
    void Terminate();

    bool notify(QObject *receiver, QEvent *event) override;

protected:
    bool event(QEvent *e) override;

private:
    std::string FTitle;
    QWidget *FMainForm = nullptr;
};

extern TApplication *Application;

// Inside a catch block, on any thread: reports the exception being handled through the default
// handler, whatever its type (standard error when there is no application object).
void HandleCurrentException();
