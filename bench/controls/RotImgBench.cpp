// Turns a 24-megapixel picture by 45 and by 90 degrees on one core and on two, and has libvips
// (the vips command, nearest-neighbour) turn the same picture in the same run. Prints
// megapixels per second (source pixels) and the ratios. libvips is timed as a command, so its
// figures include start-up, loading an uncompressed TIFF and writing its native file on a
// memory file system; the time of a plain `vips copy` of the same files is shown and also
// subtracted ("net").
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "RotImg.h"

namespace {

constexpr int W = 6000, H = 4000;
constexpr double Megapixels = W * double(H) / 1e6;
volatile unsigned Sink;

double BestOf(int runs, const std::function<void()> &f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

bool Run(const std::string &command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// args names the output file OUT.
double Vips(const std::string &dir, int threads, std::string args) {
    const std::string out = dir + "/out.v";
    args.replace(args.find("OUT"), 3, out);
    bool ok = true;
    double t = BestOf(3, [&] {
        ok = Run("VIPS_CONCURRENCY=" + std::to_string(threads) + " vips " + args) && ok;
    });
    if (!ok)
        std::fprintf(stderr, "failed: vips %s\n", args.c_str());
    std::remove(out.c_str());
    return t;
}

// How much faster two threads run than one on a loop that touches no memory: the most any
// two-core figure below can reach on this machine at this moment.
double MachineScaling() {
    auto spin = [](int threads) {
        return BestOf(3, [threads] {
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t)
                workers.emplace_back([threads] {
                    unsigned x = 1;
                    for (long i = 0; i < 400000000L / threads; ++i)
                        x = x * 1664525u + 1013904223u;
                    Sink = x;
                });
            for (std::thread &w : workers)
                w.join();
        });
    };
    return spin(1) / spin(2);
}

} // namespace

int main() {
    if (!Run("vips --version")) {
        std::fprintf(stderr, "vips not found: run PIXAVANT_BENCH_DEPS=1 scripts/install-deps.sh\n");
        return 1;
    }
    char tmpl[] = "/dev/shm/pixavant-rotbench-XXXXXX";
    char tmpl2[] = "/tmp/pixavant-rotbench-XXXXXX";
    const char *dirp = mkdtemp(tmpl);
    if (!dirp)
        dirp = mkdtemp(tmpl2);
    if (!dirp)
        return 1;
    const std::string dir = dirp;

    // A photograph-like pattern; the content does not change the work done.
    QImage img(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        auto *line = reinterpret_cast<std::uint32_t *>(img.scanLine(y));
        for (int x = 0; x < W; ++x)
            line[x] = 0xFF000000u | std::uint32_t((x * 2654435761u) ^ (y * 40503u)) >> 8;
    }
    const TBitmap source(img);
    {
        std::ofstream raw(dir + "/in.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char *>(img.constBits()),
                  std::streamsize(img.sizeInBytes()));
    }
    // libvips reads its native format through memory-mapped windows, which makes random
    // access (any turn) several times slower; an uncompressed TIFF is loaded into memory first,
    // as our rotation's source is.
    const std::string in = dir + "/in.tif";
    if (!Run("vips rawload " + dir + "/in.raw " + dir + "/in.v " + std::to_string(W) + " " +
             std::to_string(H) + " 4") ||
        !Run("vips copy " + dir + "/in.v " + in)) {
        std::fprintf(stderr, "vips could not prepare the picture\n");
        return 1;
    }
    std::remove((dir + "/in.raw").c_str());
    std::remove((dir + "/in.v").c_str());

    // CPU time is recorded too: on a shared machine the second core may not be free, but the
    // work done must not grow when it is split.
    double cpu[2][2] = {};
    auto ours = [&](long double angle, int threads) {
        const std::clock_t c0 = std::clock();
        const double best = BestOf(5, [&] { RotateBitmap(source, clBlack, angle, threads); });
        cpu[angle == 90][threads - 1] = double(std::clock() - c0) / CLOCKS_PER_SEC / 5;
        return best;
    };
    struct Row {
        const char *name;
        double one, two;
    };
    const double copy1 = Vips(dir, 1, "copy " + in + " OUT"),
                 copy2 = Vips(dir, 2, "copy " + in + " OUT");
    const Row rows[] = {
        {"RotateBitmap 45", ours(45, 1), ours(45, 2)},
        {"vips similarity --angle 45 --interpolate nearest",
         Vips(dir, 1, "similarity " + in + " OUT --angle 45 --interpolate nearest"),
         Vips(dir, 2, "similarity " + in + " OUT --angle 45 --interpolate nearest")},
        {"RotateBitmap 90", ours(90, 1), ours(90, 2)},
        {"vips rotate 90 --interpolate nearest",
         Vips(dir, 1, "rotate " + in + " OUT 90 --interpolate nearest"),
         Vips(dir, 2, "rotate " + in + " OUT 90 --interpolate nearest")},
        {"vips rot d90 (dedicated quarter turn)", Vips(dir, 1, "rot " + in + " OUT d90"),
         Vips(dir, 2, "rot " + in + " OUT d90")},
    };
    std::remove(in.c_str());
    rmdir(dir.c_str());

    std::printf("machine: a pure arithmetic loop runs %.2fx faster on two threads than on one\n",
                MachineScaling());
    std::printf("picture %d x %d (%.1f MP), best of several runs, MP/s of source pixels\n", W, H,
                Megapixels);
    std::printf("vips copy of the same file (start-up + I/O): %.3f s (1 thread), %.3f s (2)\n",
                copy1, copy2);
    std::printf("%-50s %9s %9s %9s %12s %12s\n", "", "1 core", "2 cores", "2 vs 1", "net 1 core",
                "net 2 cores");
    for (const Row &r : rows) {
        const bool isVips = r.name[0] == 'v';
        std::printf("%-50s %9.1f %9.1f %8.2fx", r.name, Megapixels / r.one, Megapixels / r.two,
                    r.one / r.two);
        if (isVips)
            std::printf(" %12.1f %12.1f", Megapixels / std::max(1e-6, r.one - copy1),
                        Megapixels / std::max(1e-6, r.two - copy2));
        std::printf("\n");
    }
    std::printf("CPU seconds per turn, 1 thread / 2 threads: 45 degrees %.3f / %.3f, "
                "90 degrees %.3f / %.3f\n",
                cpu[0][0], cpu[0][1], cpu[1][0], cpu[1][1]);
    auto ratio = [&](int oursRow, int vipsRow, bool two, bool net) {
        const double v =
            (two ? rows[vipsRow].two : rows[vipsRow].one) - (net ? (two ? copy2 : copy1) : 0);
        return v / (two ? rows[oursRow].two : rows[oursRow].one);
    };
    std::printf("\nspeed-up over libvips (raw / net of copy):\n");
    std::printf("  45 degrees, 1 core: %.2fx / %.2fx   2 cores: %.2fx / %.2fx\n",
                ratio(0, 1, false, false), ratio(0, 1, false, true), ratio(0, 1, true, false),
                ratio(0, 1, true, true));
    std::printf("  90 degrees vs rotate, 1 core: %.2fx / %.2fx   2 cores: %.2fx / %.2fx\n",
                ratio(2, 3, false, false), ratio(2, 3, false, true), ratio(2, 3, true, false),
                ratio(2, 3, true, true));
    std::printf("  90 degrees vs rot d90, 1 core: %.2fx / %.2fx   2 cores: %.2fx / %.2fx\n",
                ratio(2, 4, false, false), ratio(2, 4, false, true), ratio(2, 4, true, false),
                ratio(2, 4, true, true));
    return 0;
}
