// What a portrait frame costs against the same preview in landscape: the RAW pass's conversion
// of one CR2 (5184 x 3456 preview) into its thumbnail file, and the viewer's decode of it for a
// 1920 x 1080 screen. Each measurement runs in a fresh process, so the peak memory figures do
// not mix; the ratio portrait / landscape is the figure (goal: at most 1.2 for time and memory).
//
//   bench_viewer_portrait [runs]
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Cr2Writer.h"
#include "RawConverter.h"
#include "ReadAhead.h"

namespace {

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
    double Ms = 0;
    long PeakKb = 0; // growth of the peak resident set over the child's start
};

// One measurement in a fresh process (this program again): a fork would inherit Qt's thread
// pool, whose locks the smooth scaling takes, mid-use.
Run InChild(const char *self, const char *what, const std::string &folder,
            const std::string &name) {
    const std::string command =
        std::string(self) + " --child " + what + " '" + folder + "' '" + name + "'";
    FILE *child = ::popen(command.c_str(), "r");
    Run r;
    if (!child || std::fscanf(child, "%lf %ld", &r.Ms, &r.PeakKb) != 2)
        std::exit(4);
    ::pclose(child);
    return r;
}

int Child(const std::string &what, const std::string &folder, const std::string &name) {
    const long before = StatusKb("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    if (what == "pass") {
        // A fresh thumbnail each time: the current one would be left as it is.
        ::unlink((folder + "/" + name + ".JPG").c_str());
        ConvertRawFile(folder, name, TThumbSettings{}, TRawConverter::WorkerPreviewPath(0));
    } else {
        DecodeRawForScreen(folder + "/" + name, QSize(1920, 1080), 1);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%f %ld\n", ms, StatusKb("VmHWM") - before);
    return 0;
}

Run Median(std::vector<Run> runs) {
    const auto mid = runs.begin() + long(runs.size() / 2);
    std::nth_element(runs.begin(), mid, runs.end(),
                     [](const Run &a, const Run &b) { return a.Ms < b.Ms; });
    Run r = *mid;
    std::vector<long> peaks;
    for (const Run &run : runs)
        peaks.push_back(run.PeakKb);
    std::sort(peaks.begin(), peaks.end());
    r.PeakKb = peaks[peaks.size() / 2];
    return r;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::string(argv[1]) == "--child")
        return Child(argv[2], argv[3], argv[4]);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    QTemporaryDir dir;
    setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1);
    const std::string folder = dir.path().toStdString();
    const cr2::Bytes preview = cr2::ScaledJpeg(
        std::string(PIXAVANT_SAMPLES) + "/jpg/exiv2_exiv2-canon-eos-20d.jpg", 5184, 3456, 92);
    std::printf("%d runs each, medians; load average at start: ", runs);
    std::fflush(stdout);
    std::system("cut -d' ' -f1-3 /proc/loadavg");

    Run pass[2], view[2];
    for (const int orientation : {1, 6}) {
        const std::string name = orientation == 1 ? "landscape.CR2" : "portrait.CR2";
        cr2::Cr2Options o;
        o.PreviewJpeg = preview;
        o.Orientation = orientation;
        cr2::WriteCr2(folder + "/" + name, o);
        std::vector<Run> p, v;
        for (int i = 0; i < runs; ++i) {
            p.push_back(InChild(argv[0], "pass", folder, name));
            v.push_back(InChild(argv[0], "view", folder, name));
        }
        const int k = orientation == 1 ? 0 : 1;
        pass[k] = Median(p);
        view[k] = Median(v);
    }
    const auto line = [](const char *what, const Run *r) {
        std::printf("%-34s landscape %6.1f ms %6ld KB, portrait %6.1f ms %6ld KB; "
                    "portrait / landscape: time %.2f, memory %.2f\n",
                    what, r[0].Ms, r[0].PeakKb, r[1].Ms, r[1].PeakKb, r[1].Ms / r[0].Ms,
                    double(r[1].PeakKb) / double(std::max(1L, r[0].PeakKb)));
    };
    line("RAW pass, one file to NAME.CR2.JPG:", pass);
    line("viewer, preview at screen size:", view);
    return 0;
}
