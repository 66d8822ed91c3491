// What the decoding helper costs: each decode in-process and through the sandboxed helper, in
// one run, on camera-sized input. RAW: CR2 files with a 5184 x 3456 preview (camera photos
// scaled up, wrapped by the tests' CR2 writer), the preview written to a file as the RAW pass
// does, alone and as the pass's whole work on a file (the thumbnail file made from it too).
// Pictures: the sample photos decoded into a 120-pixel box, alone and as the cold extractor
// pass's whole work on a file (the shell's extraction from an empty cache); the pass's
// in-process figure is its helper figure less what the helper adds to the decode alone.
// Prints each one's wall time per file and the ratio helper / in-process (goal: at most 1.05).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "Cr2Writer.h"
#include "DecodeSandbox.h"
#include "PictureKind.h"
#include "QtDecoder.h"
#include "RawConverter.h"
#include "RawPreview.h"
#include "SandboxedDecode.h"
#include "ShellObjHelper.h"

namespace {

struct Fixture {
    QTemporaryDir Dir;
    std::vector<std::string> Raws;
    std::vector<std::string> Photos;
    std::string Output;

    Fixture() {
        const std::string folder = Dir.path().toStdString();
        Output = folder + "/out.jpg";
        const std::string samples = std::string(PIXAVANT_SAMPLES) + "/jpg/";
        for (const char *photo : {"exiftool_Canon1DmkIII.jpg", "exiv2_exiv2-canon-eos-20d.jpg",
                                  "exiv2_exiv2-canon-eos-300d.jpg"}) {
            cr2::Cr2Options o;
            o.PreviewJpeg = cr2::ScaledJpeg(samples + photo, 5184, 3456, 92);
            o.Model = "Canon EOS 650D";
            const std::string path = folder + "/" + photo + ".CR2";
            cr2::WriteCr2(path, o);
            Raws.push_back(path);
        }
        // Only what decodes: a remembered failure would cost the helper nothing.
        std::atomic<bool> never{false};
        for (const QString &name : QDir(QString::fromStdString(samples)).entryList({"*.jpg"})) {
            const std::string path = samples + name.toStdString();
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            QImage image;
            if (DecodeWithQt(fd, TPictureKind::Jpeg, QSize(120, 120), false,
                             TStop(never, std::chrono::seconds(5)), image) == TDecodeResult::Ok)
                Photos.push_back(path);
            ::close(fd);
        }
    }
};

Fixture &Files() {
    static Fixture fixture;
    return fixture;
}

void WriteOut(int memory, const std::string &path) {
    const off_t size = ::lseek(memory, 0, SEEK_END);
    std::vector<char> bytes(std::size_t(size > 0 ? size : 0));
    if (!bytes.empty() && ::pread(memory, bytes.data(), bytes.size(), 0) < 0)
        return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    [[maybe_unused]] const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

void RawInProcess(benchmark::State &state) {
    Fixture &f = Files();
    std::size_t i = 0;
    for (auto _ : state) {
        const int in = ::open(f.Raws[i++ % f.Raws.size()].c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::memfd_create("bench", MFD_CLOEXEC);
        if (ExtractPreviewBetweenDescriptors(in, out) != 0)
            state.SkipWithError("extraction failed");
        WriteOut(out, f.Output);
        ::close(out);
        ::close(in);
    }
}

void RawInHelper(benchmark::State &state) {
    Fixture &f = Files();
    std::size_t i = 0;
    for (auto _ : state)
        if (ExtractPreviewToFile(f.Raws[i++ % f.Raws.size()], f.Output) != 0)
            state.SkipWithError("extraction failed");
}

void Pictures(benchmark::State &state, bool helper) {
    Fixture &f = Files();
    std::atomic<bool> never{false};
    std::size_t i = 0;
    for (auto _ : state) {
        const int fd = ::open(f.Photos[i++ % f.Photos.size()].c_str(), O_RDONLY | O_CLOEXEC);
        QImage image;
        if (helper)
            DecodeInSandbox(fd, TPictureKind::Jpeg, QSize(120, 120), false, never,
                            std::chrono::seconds(5), image);
        else
            DecodeWithQt(fd, TPictureKind::Jpeg, QSize(120, 120), false,
                         TStop(never, std::chrono::seconds(5)), image);
        benchmark::DoNotOptimize(image);
        ::close(fd);
    }
}
// The RAW pass's work on one file, its thumbnail file made anew each time.
void RawPass(benchmark::State &state, bool helper) {
    Fixture &f = Files();
    const std::string folder = f.Dir.path().toStdString();
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string &raw = f.Raws[i++ % f.Raws.size()];
        ::unlink((raw + ".JPG").c_str());
        int code = 0;
        if (helper) {
            code = ExtractPreviewToFile(raw, f.Output);
        } else {
            const int in = ::open(raw.c_str(), O_RDONLY | O_CLOEXEC);
            const int out = ::memfd_create("bench", MFD_CLOEXEC);
            code = ExtractPreviewBetweenDescriptors(in, out);
            WriteOut(out, f.Output);
            ::close(out);
            ::close(in);
        }
        if (code != 0) {
            state.SkipWithError("extraction failed");
            break;
        }
        MakeRawThumbnail(f.Output, folder, raw, TThumbSettings{}, RawFileIdentity(raw));
        ::unlink(f.Output.c_str());
    }
}
void RawPassInProcess(benchmark::State &state) {
    RawPass(state, false);
}
void RawPassInHelper(benchmark::State &state) {
    RawPass(state, true);
}

// The cold extractor pass's work on one photo: the shell's 120 x 120 thumbnail from an empty
// cache.
void ExtractorPassInHelper(benchmark::State &state) {
    Fixture &f = Files();
    const std::string cache = f.Dir.path().toStdString() + "/cache";
    std::size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(cache);
        state.ResumeTiming();
        ComPtr<IExtractImage> extractor;
        if (!GetExtractImageForFile(f.Photos[i++ % f.Photos.size()], extractor)) {
            state.SkipWithError("no extractor");
            break;
        }
        ComPtr<IRunnableTask> task;
        std::unique_ptr<TBitmap> bitmap;
        DWORD flags = 0;
        if (!GetThumbnailBitmap(extractor.Get(), 120, 120, 32, flags, task, bitmap)) {
            state.SkipWithError("no thumbnail");
            break;
        }
    }
}

void PicturesInProcess(benchmark::State &state) {
    Pictures(state, false);
}
void PicturesInHelper(benchmark::State &state) {
    Pictures(state, true);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name == "median")
                Wall[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> Wall;
};

} // namespace

BENCHMARK(RawInProcess)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(RawInHelper)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(PicturesInProcess)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(PicturesInHelper)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(RawPassInProcess)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(RawPassInHelper)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(ExtractorPassInHelper)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char **argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    setenv("XDG_CACHE_HOME", (Files().Dir.path() + "/cache").toLocal8Bit().constData(), 1);
    benchmark::Initialize(&argc, argv);
    Files();
    PrestartDecoders(2);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nWall time per file, helper / in-process (goal: at most 1.05):\n");
    auto &wall = reporter.Wall;
    wall["ExtractorPassInProcess"] =
        wall["ExtractorPassInHelper"] - (wall["PicturesInHelper"] - wall["PicturesInProcess"]);
    for (const char *road : {"Raw", "Pictures", "RawPass", "ExtractorPass"}) {
        const double in = wall[std::string(road) + "InProcess"];
        const double helper = wall[std::string(road) + "InHelper"];
        if (in > 0)
            std::printf("  %-13s in-process %8.3f ms  helper %8.3f ms  ratio %5.3f\n", road, in,
                        helper, helper / in);
    }
    benchmark::Shutdown();
    return 0;
}
