// Runs the main window's scan on generated folders and prints:
//  (a) the longest time the GUI thread stays blocked while the extractor fills a folder of
//      2,000 JPEGs (a 1 ms timer measures the event loop's latency), and
//  (b) the RAW pass's time per CR2 file against `exiv2 -ep` followed by `vipsthumbnail` to the
//      same 150 x 100 box on the same files, in the same run.
// Usage: bench_browser [jpegCount=2000] [cr2Count=200]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Application.h"
#include "Cr2Writer.h"
#include "Dialogs.h"
#include "Services.h"
#include "Thread.h"
#include "ThumbsMain.h"
#include "main.h"

namespace {

const char *const Photos[] = {"exiftool_Canon1DmkIII.jpg",
                              "exiv2_exiv2-canon-eos-20d.jpg",
                              "exiv2_exiv2-canon-eos-300d.jpg",
                              "vips_sample.jpg",
                              "pillow_flower.jpg",
                              "hachoir_usa_railroad.jpg"};

std::string Sample(const char *name) {
    return std::string(PIXAVANT_SAMPLES) + "/jpg/" + name;
}

void RunUntilIdle(TMainForm &main) {
    while (main.Extractor() || main.RestartPending() || main.PnlStatus->text() != " Ready")
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void BlockedTime(int count) {
    QTemporaryDir dir(QDir::tempPath() + "/pixavant-bench-XXXXXX");
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    for (int i = 0; i < count; ++i) {
        const std::string target = folder + "/photo_" + std::to_string(i) + ".jpg";
        const std::string source = Sample(Photos[i % std::size(Photos)]);
        if (::link(source.c_str(), target.c_str()) != 0)
            QFile::copy(QString::fromStdString(source), QString::fromStdString(target));
    }
    TMainForm main;
    main.EdSelFolder->setText(dir.path());

    std::vector<double> gaps;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.push_back(double(now - last) / 1e6);
        last = now;
    });
    clock.start();
    tick.start();
    QElapsedTimer run;
    run.start();
    main.BtnRefreshClick(); // the listing itself runs here, before the loop: not counted
    last = clock.nsecsElapsed();
    RunUntilIdle(main);
    const double total = double(run.elapsed());
    tick.stop();
    std::sort(gaps.begin(), gaps.end());
    const double worst = gaps.empty() ? 0 : gaps.back();
    const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf("(a) %d JPEGs: run %.0f ms (pauses alone %.0f ms); event-loop gap: longest "
                "%.1f ms, 99th percentile %.1f ms, median %.1f ms (goal: longest < 50 ms)\n",
                count, total, 2.0 * count * 10, worst, p99,
                gaps.empty() ? 0 : gaps[gaps.size() / 2]);
}

double PeerPipeline(const std::vector<std::string> &files, const std::string &work) {
    QElapsedTimer t;
    t.start();
    for (const std::string &file : files) {
        // exiv2 writes NAME-preview1.jpg (these files carry one preview, the large one), then
        // vipsthumbnail fits it into 150 x 100 like our thumbnail.
        QProcess::execute("exiv2", {"-q", "-f", "-ep1", "-l", QString::fromStdString(work),
                                    QString::fromStdString(file)});
        const std::string base = file.substr(file.find_last_of('/') + 1);
        const std::string stem = base.substr(0, base.find_last_of('.'));
        const QString preview = QString::fromStdString(work + "/" + stem + "-preview1.jpg");
        QProcess::execute("vipsthumbnail",
                          {preview, "--size", "150x100", "-o",
                           QString::fromStdString(work + "/" + stem + "_thumb.jpg[Q=90]")});
    }
    return double(t.nsecsElapsed()) / 1e6;
}

void RawPass(int count) {
    QTemporaryDir dir(QDir::tempPath() + "/pixavant-bench-XXXXXX");
    QTemporaryDir work(QDir::tempPath() + "/pixavant-bench-XXXXXX");
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    // Camera-sized previews (5184 x 3456), encoded once per photo and reused.
    std::vector<cr2::Bytes> previews;
    for (int i = 0; i < 3; ++i)
        previews.push_back(cr2::ScaledJpeg(Sample(Photos[i]), 5184, 3456, 92));
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        cr2::Cr2Options options;
        options.PreviewJpeg = previews[std::size_t(i) % previews.size()];
        files.push_back(folder + "/IMG_" + std::to_string(1000 + i) + ".CR2");
        cr2::WriteCr2(files.back(), options);
    }
    TMainForm main;
    TthumbForm1 creator;
    thumbForm1 = &creator;
    main.EdSelFolder->setText(dir.path());
    QElapsedTimer t;
    t.start();
    main.ConvertRawFiles(folder);
    const double ours = double(t.nsecsElapsed()) / 1e6;
    thumbForm1 = nullptr;

    // The peers spawn two processes per file: a sample of the files is enough.
    const std::size_t sample = std::min<std::size_t>(files.size(), 40);
    const double peer = PeerPipeline({files.begin(), files.begin() + long(sample)},
                                     QFile::encodeName(work.path()).toStdString());
    const double oursPer = ours / count, peerPer = peer / double(sample);
    std::printf("(b) RAW pass, %d CR2 files with 5184 x 3456 previews: %.1f ms per file; "
                "exiv2 -ep + vipsthumbnail: %.1f ms per file; ratio %.2fx (ours faster when > 1)\n",
                count, oursPer, peerPer, peerPer / oursPer);
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir env(QDir::tempPath() + "/pixavant-bench-env-XXXXXX");
    qputenv("XDG_CACHE_HOME", (env.path() + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", env.path().toUtf8());
    TApplication app(argc, argv);
    app.SetTitle("Pixavant");
    TPlatformServices services;
    services.MessageBox = [](HWND, const std::string &text, const std::string &, UINT) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return IDOK;
    };
    TServicesScope scope(std::move(services));
    const int jpegs = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int raws = argc > 2 ? std::atoi(argv[2]) : 200;
    if (jpegs > 0)
        BlockedTime(jpegs);
    if (raws > 0)
        RawPass(raws);
    TThread::WaitForAll();
    return 0;
}
