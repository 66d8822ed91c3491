// Stepping through a folder in the viewer: the time from the key press to the new picture
// painted, measured inside the program, for 20 CR2 files (5184 x 3456 previews) and 20 JPEGs
// (6 megapixels), forward then back, with the read-ahead on and off in the same run; the first
// open of a CR2 and of a 24-megapixel JPEG with nothing read ahead; and the process's peak
// memory. The steps come at the
// pace of a user culling fast (PIXAVANT_STEP_MS, 333 ms by default), so the read-ahead has the
// time a user gives it.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "Cr2Writer.h"
#include "ReadAhead.h"
#include "fullscreen.h"
#include "main.h"
#include "view.h"

namespace {

// Photographs of 3 to 12 megapixels: the files are mosaics of four of them scaled down (the
// last, slightly up), so that they carry a camera's detail.
const char *const Photos[] = {"exiv2_exiv2-bug2565.jpg", "oiio_ultrahdr_sky.jpg",
                              "vips_ultra-hdr.jpg", "oiio_tahoe-gps.jpg"};
constexpr int Files = 20;
constexpr int BigFiles = 10; // 24-megapixel JPEGs for the first open

long PeakKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

void Wait(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

struct Figures {
    double P50 = 0, P90 = 0, Max = 0;
};

Figures Percentiles(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return {};
    const auto at = [&](double q) { return ms[std::size_t(q * double(ms.size() - 1) + 0.5)]; };
    return {at(0.5), at(0.9), ms.back()};
}

class Bench {
public:
    explicit Bench(const std::string &folder) : FFolder(folder) {
        Main = std::make_unique<TMainForm>();
        View = std::make_unique<TviewForm>();
        Full = std::make_unique<Tfullform>();
        View->SetBrowser(Main.get());
    }

    void List(const std::vector<std::string> &entries) {
        Main->SetSelFolder(FFolder);
        Main->List()->Clear();
        for (const std::string &entry : entries)
            Main->List()->AddItem(entry);
    }

    // One key press to the picture painted: a picture read ahead is shown within the key's
    // handler, any other once its decode has come back.
    double Step(Qt::Key key) {
        QElapsedTimer timer;
        timer.start();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(View.get(), &press);
        QDeadlineTimer deadline(10000);
        while (View->Memo1->toPlainText() == QStringLiteral("Extracting...") &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        View->RImage1->repaint();
        return double(timer.nsecsElapsed()) / 1e6;
    }

    // Forward through every entry, then back, at the user's pace.
    std::vector<double> Walk(int paceMs) {
        std::vector<double> ms;
        Main->List()->SetItemIndex(0);
        Main->Button1Click();
        Wait(paceMs);
        for (const Qt::Key key : {Qt::Key_Right, Qt::Key_Left})
            for (int i = 0; i < Files; ++i) {
                ms.push_back(Step(key));
                Wait(paceMs);
            }
        return ms;
    }

    std::string FFolder;
    std::unique_ptr<TMainForm> Main;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;
};

void WriteFile(const std::string &path, const cr2::Bytes &bytes) {
    QFile out(QString::fromStdString(path));
    if (out.open(QIODevice::WriteOnly))
        out.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
}

// 20 CR2 files with 5184 x 3456 previews, 20 JPEGs of 6 megapixels and 10 of 24.
void MakeFiles(const std::string &folder, std::vector<std::string> &raws,
               std::vector<std::string> &jpegs, std::vector<std::string> &bigs) {
    std::vector<std::string> photos;
    for (const char *photo : Photos)
        photos.push_back(std::string(PIXAVANT_SAMPLES) + "/jpg/" + photo);
    for (int i = 0; i < Files; ++i) {
        cr2::Cr2Options o;
        o.PreviewJpeg = cr2::MosaicJpeg(photos, std::size_t(i), 5184, 3456, 92);
        o.Model = "Canon EOS 650D";
        o.RawWidth = 5280;
        o.RawHeight = 3528;
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.CR2", i);
        cr2::WriteCr2(folder + "/" + name, o);
        raws.push_back(std::string(name) + ".JPG");
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", i);
        WriteFile(folder + "/" + name, cr2::MosaicJpeg(photos, std::size_t(i), 3000, 2000, 92));
        jpegs.push_back(name);
        if (i < BigFiles) {
            std::snprintf(name, sizeof name, "BIG_%04d.jpg", i);
            WriteFile(folder + "/" + name, cr2::MosaicJpeg(photos, std::size_t(i), 6000, 4000, 92));
            bigs.push_back(name);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    // A 1920 x 1080 screen unless another platform is chosen.
    QTemporaryDir configDir;
    if (!std::getenv("QT_QPA_PLATFORM") ||
        std::string(std::getenv("QT_QPA_PLATFORM")) == "offscreen") {
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
    const int pace =
        std::getenv("PIXAVANT_STEP_MS") ? std::atoi(std::getenv("PIXAVANT_STEP_MS")) : 333;
    // With --make FOLDER, only the files are written (for timing other programs on them).
    const bool makeOnly = argc == 3 && std::string(argv[1]) == "--make";
    QTemporaryDir dir;
    const std::string folder = makeOnly ? std::string(argv[2]) : dir.path().toStdString();
    std::vector<std::string> raws, jpegs, bigs;
    MakeFiles(folder, raws, jpegs, bigs);
    if (makeOnly)
        return 0;
    // The shell road's pictures come from the thumbnail cache on a second visit; a fresh
    // cache keeps every step a decode.
    QTemporaryDir cache;
    setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);

    const QScreen *screen = QGuiApplication::primaryScreen();
    std::printf("Screen %d x %d, a step every %d ms, %d CR2 and %d JPEG files, forward then "
                "back; load average at start: ",
                screen->geometry().width(), screen->geometry().height(), pace, Files, Files);
    std::fflush(stdout);
    std::system("cut -d' ' -f1-3 /proc/loadavg");

    Bench bench(folder);
    bench.View->Show();
    QCoreApplication::processEvents();

    // The first open: nothing read ahead, a fresh file each time.
    bench.View->SetReadAhead(false);
    bench.List(raws);
    std::vector<double> first;
    for (int i = 0; i < Files; ++i) {
        QElapsedTimer timer;
        timer.start();
        bench.Main->List()->SetItemIndex(i);
        bench.Main->Button1Click();
        while (bench.View->RawRequestRunning())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        bench.View->RImage1->repaint();
        first.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const Figures f = Percentiles(first);
    std::printf("first open of a CR2 (nothing read ahead): p50 %.1f ms, p90 %.1f ms\n", f.P50,
                f.P90);
    bench.List(bigs);
    std::vector<double> firstBig;
    for (int i = 0; i < BigFiles; ++i) {
        QElapsedTimer timer;
        timer.start();
        bench.Main->List()->SetItemIndex(i);
        bench.Main->Button1Click();
        QDeadlineTimer deadline(10000);
        while (bench.View->Memo1->toPlainText() == QStringLiteral("Extracting...") &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        bench.View->RImage1->repaint();
        firstBig.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const Figures b = Percentiles(firstBig);
    std::printf("first open of a 24 MP JPEG (nothing read ahead): p50 %.1f ms, p90 %.1f ms\n",
                b.P50, b.P90);

    for (const bool on : {false, true}) {
        bench.View->SetReadAhead(on);
        for (const auto &[kind, entries] : {std::pair{"CR2", &raws}, std::pair{"JPEG", &jpegs}}) {
            bench.List(*entries);
            const long before = CurrentKb();
            std::size_t held = 0;
            const Figures s = Percentiles(bench.Walk(pace));
            if (bench.View->ReadAhead())
                held = bench.View->ReadAhead()->HeldBytes();
            std::printf("read-ahead %-3s %-4s: p50 %6.1f ms, p90 %6.1f ms, max %6.1f ms; "
                        "resident %ld MB (%+ld MB over the walk), read-ahead holds %.1f MB\n",
                        on ? "on" : "off", kind, s.P50, s.P90, s.Max, CurrentKb() / 1024,
                        (CurrentKb() - before) / 1024, double(held) / 1048576.0);
        }
    }
    std::printf("peak resident memory of the run: %ld MB\n", PeakKb() / 1024);
    return 0;
}
