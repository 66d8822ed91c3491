// Opening a CR2 whose preview is 5184 x 3456 (real camera photos scaled up, wrapped by the
// tests' CR2 writer) in the viewer, from the open routine until both picture controls are
// ready to paint, against the command-line pipeline that does the same work: exiv2 -ep writes
// the preview, djpeg decodes it. Prints each one's time per file and the ratio.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Application.h"
#include "Cr2Writer.h"
#include "JpegCodec.h"
#include "PreviewPicture.h"
#include "RawPreview.h"
#include "fullscreen.h"
#include "main.h"
#include "view.h"

extern char **environ;

namespace {

const char *const Photos[] = {"exiftool_Canon1DmkIII.jpg", "exiv2_exiv2-canon-eos-20d.jpg",
                              "exiv2_exiv2-canon-eos-300d.jpg"};

struct Fixture {
    QTemporaryDir Dir;
    std::string Folder;
    std::vector<std::string> Files;    // the CR2 files
    std::vector<std::string> Previews; // where exiv2 -ep writes each one's preview
    std::unique_ptr<TMainForm> Main;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;

    Fixture() {
        Folder = Dir.path().toStdString();
        Main = std::make_unique<TMainForm>();
        View = std::make_unique<TviewForm>();
        Full = std::make_unique<Tfullform>();
        View->SetBrowser(Main.get());
        Main->SetSelFolder(Folder);
        for (const char *photo : Photos) {
            cr2::Cr2Options o;
            o.PreviewJpeg =
                cr2::ScaledJpeg(std::string(PIXAVANT_SAMPLES) + "/jpg/" + photo, 5184, 3456, 92);
            o.Model = "Canon EOS 650D";
            o.RawWidth = 5280;
            o.RawHeight = 3528;
            const std::string name = std::string(photo) + ".CR2";
            cr2::WriteCr2(Folder + "/" + name, o);
            Files.push_back(Folder + "/" + name);
            Previews.push_back(Folder + "/" + photo + "-preview1.jpg");
            // The list shows the RAW file's thumbnail entry, which opens the RAW file.
            Main->List()->AddItem(name + ".JPG");
        }
        // The viewer as the user sees it: maximised on the screen.
        View->Show();
        QCoreApplication::processEvents();
    }
};

// Made and destroyed by main, while the application object exists.
Fixture *TheFixture = nullptr;

Fixture &Files() {
    return *TheFixture;
}

void Run(const std::vector<const char *> &argv) {
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    for (const char *a : argv)
        args.push_back(const_cast<char *>(a));
    args.push_back(nullptr);
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error(std::string("cannot run ") + args[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string(args[0]) + " failed");
}

void ViewerOpen(benchmark::State &state) {
    Fixture &f = Files();
    int i = 0;
    for (auto _ : state) {
        f.Main->List()->SetItemIndex(i++ % int(f.Files.size()));
        f.View->BtnBrowseClick();
        while (f.View->RawRequestRunning())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        // Ready to paint: the turned bitmaps are built; the placement is computed on first use.
        benchmark::DoNotOptimize(f.View->RImage1->GetDestRect());
        benchmark::DoNotOptimize(f.Full->RImage2->GetDestRect());
        if (f.View->RImage1->Picture().Width() <= 0) {
            state.SkipWithError("the preview was not shown");
            break;
        }
    }
}

// The part of the open that is not the picture control's: the preview written and decoded.
void ExtractAndDecode(benchmark::State &state) {
    Fixture &f = Files();
    std::size_t i = 0;
    for (auto _ : state) {
        if (!ExtractPreviewToTemp(f.Files[i++ % f.Files.size()], TempPreview::Viewer)) {
            state.SkipWithError("no preview");
            break;
        }
        // Decoded as the viewer decodes it: no larger than the screen needs.
        const std::vector<std::uint8_t> bytes = ReadWholeFile(TempPreviewFile(TempPreview::Viewer));
        const JpegHeaderInfo info = ReadJpegHeader(bytes.data(), bytes.size());
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const QImage image = DecodePreview(bytes.data(), bytes.size(),
                                           PreviewScaleDenom(info.width, info.height, screen));
        benchmark::DoNotOptimize(image.constBits());
    }
}

void Exiv2ThenDjpeg(benchmark::State &state) {
    Fixture &f = Files();
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t n = i++ % f.Files.size();
        Run({"exiv2", "-f", "-l", f.Folder.c_str(), "-ep", f.Files[n].c_str()});
        Run({"djpeg", "-outfile", "/dev/null", f.Previews[n].c_str()});
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration)
                Times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> Times;
};

} // namespace

BENCHMARK(ViewerOpen)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(ExtractAndDecode)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(Exiv2ThenDjpeg)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char **argv) {
    // A 1920 x 1080 screen unless another platform is chosen: how large the preview is decoded
    // depends on the screen (QT_QPA_PLATFORM=offscreen:configfile=... with a 3840 x 2160 screen
    // measures a 4K desktop).
    QTemporaryDir configDir;
    if (!std::getenv("QT_QPA_PLATFORM")) {
        const QString config = configDir.filePath("screen.json");
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920,)"
                       R"( "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96,)"
                       R"( "dpr": 1}]})");
        file.close();
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit().constData(), 1);
    }
    TApplication app(argc, argv);
    app.SetTitle("Pixavant");
    benchmark::Initialize(&argc, argv);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        std::printf("Screen %d x %d\n", screen->geometry().width(), screen->geometry().height());
    auto fixture = std::make_unique<Fixture>();
    TheFixture = fixture.get();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.Times["ViewerOpen/min_time:3.000"];
    const double decode = reporter.Times["ExtractAndDecode/min_time:3.000"];
    const double peer = reporter.Times["Exiv2ThenDjpeg/min_time:3.000"];
    std::printf("\nThe viewer decodes the 5184 x 3456 preview to %d x %d for this screen.",
                fixture->View->RImage1->Picture().Width(),
                fixture->View->RImage1->Picture().Height());
    if (ours > 0 && peer > 0)
        std::printf("\nPer file: viewer open %.1f ms (of which extraction and decoding %.1f ms), "
                    "exiv2 -ep + djpeg %.1f ms\nviewer / peer = %.2f (goal: below 1); extraction "
                    "and decoding / peer = %.2f\n",
                    ours, decode, peer, ours / peer, decode / peer);
    fixture.reset();
    benchmark::Shutdown();
    return 0;
}
