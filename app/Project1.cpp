// Program entry: the application object, its title, and the five windows, created once.
#include <QIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Application.h"
#include "CommandLine.h"
#include "TempFolder.h"
#include "Thread.h"
#include "ThumbsMain.h"
#include "about.h"
#include "fullscreen.h"
#include "main.h"
#include "view.h"

int main(int argc, char **argv) {
    TApplication app(argc, argv);
    app.SetTitle("Pixavant");
    // Only the main window's close ends the program; hidden windows do not keep it alive.
    app.setQuitOnLastWindowClosed(false);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/pixavant-48.png"));
    icon.addFile(QStringLiteral(":/icons/pixavant-256.png"));
    app.setWindowIcon(icon);
    app.setDesktopFileName(QStringLiteral("org.pixavant.Pixavant"));
    // A crashed or killed run leaves its previews in a folder that may live in memory.
    RemoveStaleTempPreviews();

    // Qt has taken its own options out of argv by now; what is left names a folder or a
    // picture, in the file system's bytes.
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    std::string error;
    const TStartRequest start = ParseCommandLine(args, error);
    if (!error.empty())
        std::fputs(error.c_str(), stderr);

    auto *main = MainForm = new TMainForm;
    app.SetMainForm(main);
    auto *view = viewForm = new TviewForm;
    view->SetBrowser(main);
    auto *full = fullform = new Tfullform;
    auto *thumbs = thumbForm1 = new TthumbForm1;
    auto *about = Aboutform = new TAboutform;

    main->show();
    // Every window and the notify record exist now: open the start folder, which scans it.
    QTimer::singleShot(0, main, [main, start] {
        std::string error;
        if (!StartOn(*main, start, error))
            std::fputs(error.c_str(), stderr);
    });
    // Installation checks start the program headless and look for this line.
    if (qEnvironmentVariableIsSet("PIXAVANT_SMOKE_TEST")) {
        QTimer::singleShot(1500, main, [main, &app] {
            std::printf("main window shown: %d, caption: %s\n", int(main->isVisible()),
                        main->Caption().c_str());
            std::fflush(stdout);
            app.Terminate();
        });
    }
    const int result = app.exec();

    // A running extractor is asked to stop; wait for it (serving its calls) before its list
    // view and notify record go.
    TThread::WaitForAll();
    delete about;
    delete thumbs;
    delete full;
    delete view;
    delete main;
    return result;
}
