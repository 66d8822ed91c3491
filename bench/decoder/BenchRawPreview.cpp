// Preview extraction from CR2 files whose preview is 5184 x 3456 (real camera photos scaled up,
// wrapped by the tests' CR2 writer): through our table in-process, LibRaw reading the same file
// directly in-process, and the command-line tools exiv2 -ep and simple_dcraw -e, in one run.
// Prints each one's time per file and the ratios against our table.
#include <benchmark/benchmark.h>

#include "Cr2Writer.h"
#include "DecoderIo.h"
#include "RawPreview.h"

#include <libraw/libraw.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Fixture {
    QTemporaryDir Dir;
    std::vector<std::string> Files;
    std::string Output;

    Fixture() {
        const std::string folder = Dir.path().toStdString();
        Output = folder + "/out.jpg";
        const char *photos[] = {"exiftool_Canon1DmkIII.jpg", "exiv2_exiv2-canon-eos-20d.jpg",
                                "exiv2_exiv2-canon-eos-300d.jpg"};
        for (const char *photo : photos) {
            cr2::Cr2Options o;
            o.PreviewJpeg =
                cr2::ScaledJpeg(std::string(PIXAVANT_SAMPLES) + "/jpg/" + photo, 5184, 3456, 92);
            o.Model = "Canon EOS 650D";
            o.RawWidth = 5280;
            o.RawHeight = 3528;
            const std::string path = folder + "/" + photo + ".CR2";
            cr2::WriteCr2(path, o);
            Files.push_back(path);
        }
    }
};

Fixture &Files() {
    static Fixture fixture;
    return fixture;
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
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        throw std::runtime_error(std::string("cannot run ") + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
}

void ThroughTable(benchmark::State &state) {
    Fixture &f = Files();
    size_t i = 0;
    for (auto _ : state) {
        TDecoderIoTable table;
        BuildDecoderIoTable(table);
        char output[RawPreviewPathBufferSize] = {};
        std::strcpy(output, f.Output.c_str());
        std::int32_t quality = 100;
        if (ExtractRawPreview(&table, f.Files[i++ % f.Files.size()].c_str(), output, &quality))
            state.SkipWithError("extraction failed");
    }
}

void LibRawDirect(benchmark::State &state) {
    Fixture &f = Files();
    size_t i = 0;
    for (auto _ : state) {
        LibRaw raw;
        if (raw.open_file(f.Files[i++ % f.Files.size()].c_str()) != LIBRAW_SUCCESS ||
            raw.unpack_thumb() != LIBRAW_SUCCESS) {
            state.SkipWithError("LibRaw failed");
            break;
        }
        FILE *out = std::fopen(f.Output.c_str(), "wb");
        std::fwrite(raw.imgdata.thumbnail.thumb, 1, raw.imgdata.thumbnail.tlength, out);
        std::fclose(out);
    }
}

void Exiv2Tool(benchmark::State &state) {
    Fixture &f = Files();
    const std::string folder = f.Dir.path().toStdString();
    size_t i = 0;
    for (auto _ : state)
        Run({"exiv2", "-f", "-l", folder.c_str(), "-ep", f.Files[i++ % f.Files.size()].c_str()});
}

void SimpleDcrawTool(benchmark::State &state) {
    Fixture &f = Files();
    size_t i = 0;
    for (auto _ : state)
        Run({"simple_dcraw", "-e", f.Files[i++ % f.Files.size()].c_str()});
}

// Keeps each benchmark's time per file (the median when repeated) for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double Real = 0, Cpu = 0;
    };
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            Measured[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                    run.GetAdjustedCPUTime()};
        }
    }
    std::map<std::string, Times> Measured;
};

} // namespace

BENCHMARK(ThroughTable)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LibRawDirect)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Exiv2Tool)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(SimpleDcrawTool)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Files();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ours = reporter.Measured["ThroughTable"];
    if (ours.Real > 0) {
        std::printf("\nPer file; ratio = ours / theirs (below 1: ours is faster; goal against "
                    "LibRaw direct: at most 1.2):\n");
        for (const auto &[name, t] : reporter.Measured)
            std::printf("  %-16s wall %8.3f ms  ratio %5.2f   cpu %8.3f ms  ratio %5.2f\n",
                        name.c_str(), t.Real, ours.Real / t.Real, t.Cpu, ours.Cpu / t.Cpu);
    }
    benchmark::Shutdown();
    return 0;
}
