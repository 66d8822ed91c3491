// Speed and peak memory of MakeThumbnailFile (150 x 100) on 5184 x 3456 and 6000 x 4000 JPEGs,
// against djpeg decoding the same file in full, measured in the same run. Each measurement runs
// in a child process so that peak figures do not mix.
//
//   bench_thumbs [runs]      (djpeg from libjpeg-turbo-progs must be on the PATH)
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "JpegConv.h"

namespace {

using Clock = std::chrono::steady_clock;

long StatusKb(const char *field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    return -1;
}

struct Run {
    double ms = 0;
    long peakKb = 0; // growth of the peak resident set over the child's start
};

// Our conversion in a fresh child: wall time and VmHWM - VmRSS at its start.
Run OurRun(const std::string &source, const std::string &dest) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        std::exit(2);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        const long before = StatusKb("VmRSS");
        const auto start = Clock::now();
        MakeThumbnailFile(source, dest, 150, 100, clWhite);
        Run r;
        r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        r.peakKb = StatusKb("VmHWM") - before;
        if (::write(pipeFds[1], &r, sizeof r) != sizeof r)
            _exit(3);
        _exit(0);
    }
    ::close(pipeFds[1]);
    Run r;
    if (::read(pipeFds[0], &r, sizeof r) != sizeof r)
        std::exit(4);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return r;
}

// djpeg decoding in full to /dev/null: wall time including exec, and its maximum RSS.
Run DjpegRun(const std::string &source) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("djpeg", "djpeg", "-outfile", "/dev/null", source.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run r;
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    r.peakKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "djpeg failed on %s\n", source.c_str());
        std::exit(5);
    }
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir dir;
    struct Input {
        int w, h;
        bool progressive;
        QString path;
    } inputs[] = {{5184, 3456, false, {}}, {6000, 4000, false, {}}, {6000, 4000, true, {}}};
    {
        // Camera-sized files from a real camera picture, scaled up. The pictures are freed
        // before anything is measured: a forked child would count their pages.
        const QImage camera(QString(PIXAVANT_SAMPLES) + "/jpg/exiv2_exiv2-bug2565.jpg");
        if (camera.isNull()) {
            std::fprintf(stderr, "cannot read the sample picture\n");
            return 1;
        }
        for (Input &in : inputs) {
            in.path = dir.filePath(
                QString("%1x%2%3.jpg").arg(in.w).arg(in.h).arg(in.progressive ? "p" : ""));
            QImageWriter writer(in.path, "jpeg");
            writer.setQuality(92);
            writer.setProgressiveScanWrite(in.progressive);
            if (!writer.write(
                    camera.scaled(in.w, in.h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(in.path));
                return 1;
            }
        }
    }

    std::printf("MakeThumbnailFile to 150 x 100 vs djpeg full decode; median of %d runs each\n",
                runs);
    std::printf("%-26s %9s %9s %7s | %10s %10s %7s | %10s\n", "source", "ours ms", "djpeg ms",
                "speed", "ours peak", "W*H*3", "share", "djpeg RSS");
    for (const Input &in : inputs) {
        const std::string source = QFile::encodeName(in.path).toStdString();
        const std::string dest = QFile::encodeName(dir.filePath("thumb.jpg")).toStdString();
        std::vector<double> ours, theirs, ourPeak, theirPeak;
        for (int i = 0; i < runs; ++i) { // interleaved, so load on the machine hits both alike
            const Run a = OurRun(source, dest);
            const Run b = DjpegRun(source);
            ours.push_back(a.ms);
            ourPeak.push_back(double(a.peakKb));
            theirs.push_back(b.ms);
            theirPeak.push_back(double(b.peakKb));
        }
        const double picture = double(in.w) * in.h * 3 / 1024; // KiB
        char name[64];
        std::snprintf(name, sizeof name, "%dx%d %s %.1f MB", in.w, in.h,
                      in.progressive ? "progressive" : "baseline",
                      double(QFileInfo(in.path).size()) / 1e6);
        std::printf("%-26s %9.1f %9.1f %6.2fx | %7.1f MB %7.1f MB %6.1f%% | %7.1f MB\n", name,
                    Median(ours), Median(theirs), Median(theirs) / Median(ours),
                    Median(ourPeak) / 1024, picture / 1024, 100 * Median(ourPeak) / picture,
                    Median(theirPeak) / 1024);
    }
    std::printf("speed: djpeg time / ours (above 1 is faster); share: our peak memory growth "
                "as a share of the decoded picture's size\n");
    return 0;
}
