// Thumbnail extraction benchmarks. Prints figures and ratios against the named peer, measured
// in the same run:
//   (a) cold 120 x 120 extraction per 24-megapixel JPEG vs vipsthumbnail on the same files in
//       one process;
//   (b) a whole extractor-thread run with a warm cache vs its pauses alone (2 x n x 10 ms);
//   (c) peak memory of a run at 500 and 5,000 items, and bytes per item.
// Test data is generated under /tmp and removed afterwards. Options: --count N (files for a
// and b, default 500), --distinct N (distinct pictures behind them, default 20), --big N
// (items for c, default 5000), --skip-memory, --camera-thumbnails (4:3 pictures with the
// 160 x 120 EXIF thumbnail cameras embed).
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ExtractImageThread.h"
#include "ListView.h"
#include "Messages.h"
#include "ShellObjHelper.h"

namespace fs = std::filesystem;

namespace {

long StatusKb(const char *field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    return 0;
}

// A photo-like picture: smooth shapes with sensor-like noise, so the JPEG carries about as
// much data as a camera's.
QImage PhotoLike(int w, int h, int seed) {
    QImage small(w / 8, h / 8, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    QPainter p(&small);
    p.fillRect(small.rect(), QColor::fromHsv(rng.bounded(360), 80, 200));
    for (int i = 0; i < 60; ++i) {
        p.setBrush(QColor::fromHsv(rng.bounded(360), rng.bounded(255), rng.bounded(255)));
        p.setPen(Qt::NoPen);
        p.drawEllipse(rng.bounded(small.width()), rng.bounded(small.height()),
                      rng.bounded(small.width() / 2) + 4, rng.bounded(small.height() / 2) + 4);
    }
    p.end();
    QImage big = small.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(big.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.generate() % 13) - 6;
            const QRgb c = row[x];
            row[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                          std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return big;
}

QByteArray Jpeg(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", 90);
    return bytes;
}

// The picture as a camera writes it: an EXIF block whose IFD1 holds a 160 x 120 JPEG.
QByteArray WithCameraThumbnail(const QImage &picture) {
    const QByteArray big = Jpeg(picture);
    const QByteArray small =
        Jpeg(picture.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    QByteArray tiff("II*\0\x08\0\0\0\0\0\x0e\0\0\0", 14);
    auto u16 = [&](unsigned v) { tiff.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    u16(2);
    u16(0x0201), u16(4), u32(1), u32(44);
    u16(0x0202), u16(4), u32(1), u32(unsigned(small.size()));
    u32(0);
    tiff += small;
    const int length = 2 + 6 + int(tiff.size());
    QByteArray out("\xFF\xD8\xFF\xE1", 4);
    out.append(char(length >> 8)).append(char(length & 0xFF)).append("Exif\0\0", 6);
    return out + tiff + big.mid(2);
}

bool cameraThumbnails = false;

// count names in folder, hard links over `distinct` generated pictures of w x h.
std::vector<std::string> MakeFolder(const std::string &folder, int count, int distinct, int w,
                                    int h) {
    fs::create_directories(folder + "/src");
    std::vector<std::string> sources;
    for (int i = 0; i < distinct; ++i) {
        const std::string path = folder + "/src/p" + std::to_string(i) + ".jpg";
        const QImage picture = PhotoLike(w, h, i + 1);
        QFile file(QString::fromStdString(path));
        file.open(QIODevice::WriteOnly);
        file.write(cameraThumbnails ? WithCameraThumbnail(picture) : Jpeg(picture));
        sources.push_back(path);
    }
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05d.jpg", i);
        fs::create_hard_link(sources[std::size_t(i % distinct)], folder + "/" + name);
        names.push_back(name);
    }
    return names;
}

double ExtractAll(const std::string &folder, const std::vector<std::string> &names) {
    QElapsedTimer t;
    t.start();
    int made = 0;
    for (const std::string &n : names) {
        ComPtr<IExtractImage> x;
        if (!GetExtractImageForFile(folder + "/" + n, x))
            continue;
        ComPtr<IRunnableTask> task;
        std::unique_ptr<TBitmap> bitmap;
        DWORD flags = 0;
        made += GetThumbnailBitmap(x.Get(), 120, 120, 32, flags, task, bitmap);
    }
    if (made != int(names.size()))
        std::printf("  warning: %d of %zu thumbnails made\n", made, names.size());
    return t.nsecsElapsed() / 1e6;
}

double VipsAll(const std::string &folder, const std::vector<std::string> &names) {
    fs::create_directories(folder + "/vips");
    QStringList args{"-s", "120x120", "-o", QString::fromStdString(folder + "/vips/%s.jpg")};
    for (const std::string &n : names)
        args << QString::fromStdString(folder + "/" + n);
    QProcess vips;
    QElapsedTimer t;
    t.start();
    vips.start("vipsthumbnail", args);
    if (!vips.waitForStarted() || !vips.waitForFinished(-1) || vips.exitCode() != 0) {
        std::printf("  vipsthumbnail failed (install libvips-tools: PIXAVANT_BENCH_DEPS=1 "
                    "scripts/install-deps.sh)\n");
        return -1;
    }
    return t.nsecsElapsed() / 1e6;
}

// One whole extractor run over the folder's names; returns its wall time in ms.
double ExtractorRun(const std::string &folder, const std::vector<std::string> &names,
                    long *peakGrowthKb = nullptr) {
    TListView list;
    for (const std::string &n : names)
        list.AddItem(n);
    int pictures = 0;
    TWindowHandle window(nullptr, [&](TMessage &m) {
        if (m.Msg == 1126 || m.Msg == 1130) {
            delete reinterpret_cast<TBitmap *>(m.LParam);
            ++pictures;
        }
    });
    TThumbnailExtractorNotify notify{window.Handle(), 1128, 1129, 1126, 1130, 1131};
    QApplication::processEvents();
    if (peakGrowthKb) {
        // Restart the peak here, so it shows the run alone.
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    const long before = StatusKb("VmRSS");
    auto *thread = new TThumbnailExtractorThread(notify, folder, &list, 120, 120, 32, 0);
    bool ended = false;
    thread->OnTerminate = [&](TThread *) { ended = true; };
    QElapsedTimer t;
    t.start();
    thread->Resume();
    while (!ended)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ms = t.nsecsElapsed() / 1e6;
    QApplication::processEvents();
    if (peakGrowthKb)
        *peakGrowthKb = StatusKb("VmHWM") - before;
    return ms;
}

int Arg(int argc, char **argv, const char *name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name)
            return std::atoi(argv[i + 1]);
    return fallback;
}

bool Flag(int argc, char **argv, const char *name) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == name)
            return true;
    return false;
}

// Child process for (c): lists the folder, runs the extractor once (cold cache) and prints
// the run's peak growth over the RSS with the list filled, and the process peak.
int MemoryChild(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    long growth = 0;
    ExtractorRun(folder, names, &growth);
    std::printf("%zu %ld %ld\n", names.size(), growth, StatusKb("VmHWM"));
    return 0;
}

// Pauses alone, as the extractor makes them, on a thread of their own.
double PausesAlone(int count) {
    QElapsedTimer t;
    t.start();
    std::thread pauses([count] {
        for (int i = 0; i < 2 * count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    pauses.join();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    char tmpl[] = "/tmp/shellbench-XXXXXX";
    const std::string root = ::mkdtemp(tmpl);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);

    if (argc == 3 && std::string(argv[1]) == "--memory-child") {
        const int rc = MemoryChild(argv[2]);
        fs::remove_all(root);
        return rc;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const int count = Arg(argc, argv, "--count", 500);
    const int distinct = Arg(argc, argv, "--distinct", 20);
    const int big = Arg(argc, argv, "--big", 5000);

    // Default: 3:2 pictures without a camera thumbnail, so every file is decoded. With
    // --camera-thumbnails: 4:3 pictures carrying one, as compact cameras and phones write them.
    cameraThumbnails = Flag(argc, argv, "--camera-thumbnails");
    const QSize size = cameraThumbnails ? QSize(5664, 4248) : QSize(6000, 4000);
    std::printf("generating %d distinct %d x %d JPEGs%s behind %d names in %s ...\n", distinct,
                size.width(), size.height(), cameraThumbnails ? " with EXIF thumbnails" : "", count,
                root.c_str());
    const std::string folder = root + "/photos";
    const std::vector<std::string> names =
        MakeFolder(folder, count, distinct, size.width(), size.height());
    std::uintmax_t bytes = 0;
    for (int i = 0; i < distinct; ++i)
        bytes += fs::file_size(folder + "/src/p" + std::to_string(i) + ".jpg");
    std::printf("  average file %.1f MB (camera JPEGs of 24 MP: about 6 to 12 MB)\n",
                bytes / 1e6 / distinct);

    // (a) Cold extraction, both sides reading the same (page-cached) files.
    ExtractAll(folder, {names.front()}); // load the codecs once
    fs::remove_all(root + "/cache");
    const double ours = ExtractAll(folder, names);
    const double vips = VipsAll(folder, names);
    std::printf("(a) cold 120x120 per file: pixavant %.2f ms, vipsthumbnail %.2f ms, ratio %.2f "
                "(goal <= 1.5; pause 10 ms)\n",
                ours / count, vips / count, vips > 0 ? ours / vips : 0.0);

    // (b) Warm cache: the cache now holds every file's entry.
    const double warm = ExtractAll(folder, names);
    std::printf("  warm extraction alone: %.2f ms per file\n", warm / count);
    const double run = ExtractorRun(folder, names);
    const double pauses = 2.0 * count * 10.0;
    const double measured = PausesAlone(count);
    std::printf("(b) warm extractor run over %d items: %.0f ms; pauses alone %.0f ms nominal, "
                "%.0f ms measured now; ratio %.3f to nominal, %.3f to measured (goal <= 1.15)\n",
                count, run, pauses, measured, run / pauses, run / measured);
    fs::remove_all(folder);

    // (c) Peak memory in fresh processes, so one run's peak does not hide the other's.
    if (!Flag(argc, argv, "--skip-memory")) {
        long growth[2] = {0, 0}, peak[2] = {0, 0}, items[2] = {count, big};
        for (int k = 0; k < 2; ++k) {
            const std::string dir = root + "/mem" + std::to_string(items[k]);
            MakeFolder(dir, int(items[k]), 20, 1600, 1200);
            fs::remove_all(dir + "/src"); // the names stay as the only links
            QProcess child;
            child.start(QString::fromLocal8Bit(argv[0]),
                        {"--memory-child", QString::fromStdString(dir)});
            child.waitForFinished(-1);
            long n = 0;
            std::sscanf(child.readAllStandardOutput().constData(), "%ld %ld %ld", &n, &growth[k],
                        &peak[k]);
            std::printf("(c) %ld items: run peak over the filled list %ld KiB, process peak %ld "
                        "KiB\n",
                        n, growth[k], peak[k]);
            fs::remove_all(dir);
        }
        std::printf("(c) per added item: run peak %.0f bytes, process peak (list included) %.0f "
                    "bytes\n",
                    (growth[1] - growth[0]) * 1024.0 / double(items[1] - items[0]),
                    (peak[1] - peak[0]) * 1024.0 / double(items[1] - items[0]));
    }
    fs::remove_all(root);
    return 0;
}
