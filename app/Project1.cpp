// Program entry: the application object, its title, and the five windows, created once.
#include <QIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "CommandLine.h"
#include "DecodeSandbox.h"
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
    // The decoding helpers load while the windows are made: the first folder's thumbnails do
    // not wait for them.
    PrestartDecoders(2);

    // Qt has taken its own options out of argv by now; what is left names a folder or a
    // picture, in the file system's bytes.
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    std::string error;
    const TStartRequest start = ParseCommandLine(args, error);
    if (!error.empty())
        std::fputs(error.c_str(), stderr);

    // Destroyed in the reverse order, the main window last.
    auto main = std::make_unique<TMainForm>();
    MainForm = main.get();
    app.SetMainForm(main.get());
    auto view = std::make_unique<TviewForm>();
    viewForm = view.get();
    view->SetBrowser(main.get());
    auto full = std::make_unique<Tfullform>();
    fullform = full.get();
    auto thumbs = std::make_unique<TthumbForm1>();
    thumbForm1 = thumbs.get();
    auto about = std::make_unique<TAboutform>();
    Aboutform = about.get();

    main->show();
    // Every window and the notify record exist now: open the start folder, which scans it.
    QTimer::singleShot(0, main.get(), [main = main.get(), start] {
        std::string error;
        if (!StartOn(*main, start, error))
            std::fputs(error.c_str(), stderr);
    });
    // Installation checks start the program headless and look for this line.
    if (qEnvironmentVariableIsSet("PIXAVANT_SMOKE_TEST")) {
        QTimer::singleShot(1500, main.get(), [main = main.get(), &app] {
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
    return result;
}
