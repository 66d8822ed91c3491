// What the decoding helper costs: each decode in-process and through the sandboxed helper, in
// one run, on camera-sized input. RAW: CR2 files with a 5184 x 3456 preview (camera photos
// scaled up, wrapped by the tests' CR2 writer), the preview written to a file as the RAW pass
// does. Pictures: the sample photos decoded into a 256-pixel box, as a cold extractor pass
// does. Prints each one's wall time per file and the ratio helper / in-process (goal: at most
// 1.05).
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "Cr2Writer.h"
#include "DecodeSandbox.h"
#include "PictureKind.h"
#include "QtDecoder.h"
#include "RawPreview.h"
#include "SandboxedDecode.h"

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
            if (DecodeWithQt(fd, TPictureKind::Jpeg, QSize(256, 256), false,
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
            DecodeInSandbox(fd, TPictureKind::Jpeg, QSize(256, 256), false, never,
                            std::chrono::seconds(5), image);
        else
            DecodeWithQt(fd, TPictureKind::Jpeg, QSize(256, 256), false,
                         TStop(never, std::chrono::seconds(5)), image);
        benchmark::DoNotOptimize(image);
        ::close(fd);
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

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Files();
    PrestartDecoders(2);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nWall time per file, helper / in-process (goal: at most 1.05):\n");
    for (const char *road : {"Raw", "Pictures"}) {
        const double in = reporter.Wall[std::string(road) + "InProcess"];
        const double helper = reporter.Wall[std::string(road) + "InHelper"];
        if (in > 0)
            std::printf("  %-9s in-process %8.3f ms  helper %8.3f ms  ratio %5.3f\n", road, in,
                        helper, helper / in);
    }
    benchmark::Shutdown();
    return 0;
}
