// The RAW conversion pass off the GUI thread: when a thumbnail file counts as current, the
// parallel pass against a one-worker pass, results in listing order, and stopping a pass.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Cr2Writer.h"
#include "DecodeSandbox.h"
#include "DecodeWire.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "HostileJpeg.h"
#include "JpegConv.h"
#include "JpegTestUtil.h"
#include "PreviewPicture.h"
#include "RawConverter.h"
#include "RawPreview.h"
#include "TestUtil.h"

namespace {

// Sets a file's modification time to sec seconds and nsec nanoseconds.
void SetMtime(const std::string &path, time_t sec, long nsec) {
    const timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// CR2 files whose previews differ, so that a thumbnail written for the wrong file shows.
std::vector<std::string> WriteCr2Files(const std::string &folder, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        cr2::Cr2Options options;
        options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(120 + 8 * i, 80 + 4 * (i % 5)));
        const std::string name = "IMG_" + std::to_string(1000 + i) + ".CR2";
        cr2::WriteCr2(folder + "/" + name, options);
        names.push_back(name);
    }
    return names;
}

struct PassLog {
    std::vector<int> Indices;
    std::vector<TRawResult> Results;
    bool Finished = false;
    bool Stopped = false;
};

// Runs a whole pass and waits for its end while the event loop runs.
PassLog RunPass(TRawConverter &converter, const std::string &folder,
                const std::vector<std::string> &names) {
    PassLog log;
    converter.OnResult = [&](int index, const TRawResult &result) {
        log.Indices.push_back(index);
        log.Results.push_back(result);
    };
    converter.OnFinished = [&](bool stopped) {
        log.Finished = true;
        log.Stopped = stopped;
    };
    converter.Start(folder, names, TThumbSettings{});
    EXPECT_TRUE(testutil::WaitFor([&] { return log.Finished; }));
    return log;
}

// A thumbnail file's bytes without the comment that names its RAW file, which differs between
// copies of a folder: the rest must be the same to the byte.
std::vector<std::uint8_t> Picture(const std::string &thumb) {
    std::vector<std::uint8_t> bytes = testutil::ReadFile(thumb);
    const std::string prefix = ThumbnailSourcePrefix;
    const auto at = std::search(bytes.begin(), bytes.end(), prefix.begin(), prefix.end());
    if (at - bytes.begin() >= 4) {
        const std::size_t length = std::size_t(at[-2]) << 8 | at[-1]; // with its own 2 bytes
        bytes.erase(at - 4, at - 2 + std::ptrdiff_t(length));
    }
    return bytes;
}

// The workers' preview files of this process that exist now.
std::vector<std::string> WorkerPreviews() {
    const std::string sample = TRawConverter::WorkerPreviewPath(0);
    const std::string folder = sample.substr(0, sample.find_last_of('/'));
    const QString prefix = QString::fromStdString("thumb." + std::to_string(::getpid()) + ".");
    std::vector<std::string> found;
    for (const QString &name : QDir(QString::fromStdString(folder)).entryList(QDir::Files))
        if (name.startsWith(prefix))
            found.push_back(name.toStdString());
    return found;
}

} // namespace

TEST(RawConverterTest, AThumbnailIsCurrentOnlyWhenWholeOursAndMadeFromTheRawFileAsItIs) {
    testutil::TempDir dir;
    const std::string raw = dir.file("a.CR2"), preview = dir.file("preview.jpg");
    testutil::WriteFile(raw, std::string("raw bytes"));
    testutil::WriteFile(preview, cr2::EncodeJpeg(cr2::QuarterPicture(60, 40)));
    SetMtime(raw, 1'700'000'000, 500);
    MakeRawThumbnail(preview, dir.path(), raw, TThumbSettings{}, RawFileIdentity(raw));
    const auto ours = testutil::ReadFile(dir.file("a.CR2.JPG"));
    auto cut = ours;
    cut.resize(cut.size() - 10);
    auto scribbled = ours;
    for (std::size_t i = scribbled.size() / 2; i < scribbled.size() / 2 + 40; ++i)
        scribbled[i] = 0x55;
    MakeThumbnailFile(preview, dir.file("earlier.jpg"), 150, 100, clWhite); // no identity

    const struct {
        const char *What;
        std::vector<std::uint8_t> Thumb; // empty: as the earlier version wrote it
        bool Current;
    } thumbs[] = {
        {"made from it", ours, true},
        {"cut short", cut, false},
        {"scribbled over", scribbled, false},
        {"an earlier version's, with no identity", {}, false},
        {"not made by us", cr2::EncodeJpeg(cr2::QuarterPicture(60, 40)), false},
    };
    for (const auto &row : thumbs) {
        SCOPED_TRACE(row.What);
        const std::string thumb = dir.file("thumb.jpg");
        if (row.Thumb.empty())
            std::filesystem::copy_file(dir.file("earlier.jpg"), thumb,
                                       std::filesystem::copy_options::overwrite_existing);
        else
            testutil::WriteFile(thumb, row.Thumb);
        EXPECT_EQ(ThumbnailIsCurrent(RawFileIdentity(raw), thumb), row.Current);
    }
    testutil::WriteFile(dir.file("empty.jpg"), std::string());
    EXPECT_FALSE(ThumbnailIsCurrent(RawFileIdentity(raw), dir.file("empty.jpg")));
    EXPECT_FALSE(ThumbnailIsCurrent(RawFileIdentity(raw), dir.file("missing.jpg")));

    // The RAW file changed: touched by a nanosecond, or replaced by a copy that keeps its times.
    const std::string thumb = dir.file("a.CR2.JPG");
    SetMtime(raw, 1'700'000'000, 501);
    EXPECT_FALSE(ThumbnailIsCurrent(RawFileIdentity(raw), thumb));
    SetMtime(raw, 1'700'000'000, 500);
    ASSERT_TRUE(ThumbnailIsCurrent(RawFileIdentity(raw), thumb));
    std::filesystem::copy_file(raw, dir.file("copy.CR2"));
    SetMtime(dir.file("copy.CR2"), 1'700'000'000, 500);
    std::filesystem::rename(dir.file("copy.CR2"), raw);
    EXPECT_FALSE(ThumbnailIsCurrent(RawFileIdentity(raw), thumb));
    std::filesystem::remove(raw);
    EXPECT_FALSE(ThumbnailIsCurrent(RawFileIdentity(raw), thumb));
}

TEST(RawConverterTest, APassRemovesTheTemporaryFilesOfKilledRunsAndNothingElse) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 1);
    // A process that has ended: its id names no running process (until it is reused).
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child), live = std::to_string(::getpid());
    const struct {
        std::string Name;
        bool Stays;
    } rows[] = {
        {".pixavant-" + dead + "-0000abcd.tmp", false},
        {".pixavant-" + live + "-0000abcd.tmp", true}, // a live run's
        {".pixavant-1-0000abcd.tmp", true},            // a process that runs
        {".pixavant-0000abcd.tmp", true},              // no process id: not ours to judge
        {".pixavant-" + dead + "-0000abcd.tmp.keep", true},
        {".pixavant-" + dead + "-0000ABCD.tmp", true},
        {".pixavant-" + dead + "-abcd.tmp", true},
        {".pixavant-2000000000-0000abcd.tmp", false}, // ten digits, above any id in use
    };
    for (const auto &row : rows)
        testutil::WriteFile(dir.file(row.Name), std::string("partial"));
    // Only a regular file is removed, never what a link points to.
    const std::string linked = ".pixavant-" + dead + "-0000beef.tmp";
    ASSERT_EQ(::symlink(dir.file(names[0]).c_str(), dir.file(linked).c_str()), 0);

    TRawConverter converter(1);
    RunPass(converter, dir.path(), names);
    for (const auto &row : rows)
        EXPECT_EQ(testutil::FileExists(dir.file(row.Name)), row.Stays) << row.Name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(linked)));
    EXPECT_TRUE(testutil::FileExists(dir.file(names[0])));
}

TEST(RawConverterTest, APreviewTheConverterRefusesLeavesNothingBesideTheRawFile) {
    cr2::Cr2Options options;
    options.PreviewJpeg = hostile::ManyScanJpeg(2048, 2048, 2000); // too many scans for its size
    testutil::TempDir dir;
    cr2::WriteCr2(dir.file("IMG_0001.CR2"), options);
    TRawConverter converter(1);
    const PassLog log = RunPass(converter, dir.path(), {"IMG_0001.CR2"});
    ASSERT_EQ(log.Results.size(), 1u);
    EXPECT_EQ(log.Results[0].Outcome, TRawOutcome::Failed) << log.Results[0].Error;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(RawConverterTest, SwappedRawFilesAreConvertedAgainEachIntoItsOwnThumbnail) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 2);
    TRawConverter converter(2);
    RunPass(converter, dir.path(), names);
    const auto first = testutil::ReadFile(dir.file(names[0] + ".JPG"));
    const auto second = testutil::ReadFile(dir.file(names[1] + ".JPG"));
    ASSERT_NE(first, second);
    // mv a t; mv b a; mv t b
    std::filesystem::rename(dir.file(names[0]), dir.file("t"));
    std::filesystem::rename(dir.file(names[1]), dir.file(names[0]));
    std::filesystem::rename(dir.file("t"), dir.file(names[1]));
    const PassLog log = RunPass(converter, dir.path(), names);
    for (const TRawResult &result : log.Results)
        EXPECT_EQ(result.Outcome, TRawOutcome::Converted) << result.Name;
    // Each thumbnail shows its file's picture: the identities differ, the pixels are swapped.
    const auto decoded = [&](const std::string &name) {
        return QImage(QString::fromStdString(dir.file(name + ".JPG")));
    };
    EXPECT_EQ(decoded(names[0]), QImage::fromData(second.data(), int(second.size())));
    EXPECT_EQ(decoded(names[1]), QImage::fromData(first.data(), int(first.size())));
    // Left as they are, they are current.
    for (const TRawResult &result : RunPass(converter, dir.path(), names).Results)
        EXPECT_EQ(result.Outcome, TRawOutcome::UpToDate) << result.Name;
}

TEST(RawConverterTest, ARevisitOfFilesThatStalledTheirDecoderCostsNoNewDecode) {
    // Stand-ins for crafted CR3 files that hold the RAW library until its budget runs out.
    AllowDecodeTestJobs(true, 100);
    ForgetDecodeFailures();
    testutil::TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) {
        names.push_back("LOOP_" + std::to_string(i) + ".CR3");
        testutil::WriteFile(dir.file(names.back()),
                            std::string(DecodeTestSpinMarker) + std::string(52 << 10, '\0'));
    }
    TRawConverter converter;
    for (const char *visit : {"first", "again"}) {
        SCOPED_TRACE(visit);
        const std::uint64_t before = DecodesRun();
        const PassLog log = RunPass(converter, dir.path(), names);
        ASSERT_EQ(log.Results.size(), names.size());
        for (const TRawResult &result : log.Results) {
            EXPECT_EQ(result.Outcome, TRawOutcome::Failed);
            EXPECT_NE(result.Error.find("limit"), std::string::npos) << result.Error;
        }
        EXPECT_EQ(DecodesRun() - before, std::string(visit) == "first" ? names.size() : 0u);
    }
    AllowDecodeTestJobs(false);
}

TEST(RawConverterTest, ThePreviewBecomesAThumbnailInTheDecodingHelper) {
    // A preview that stalls its converter, as a hostile one could: the helper is stopped at its
    // limit, and the folder is left as it was.
    AllowDecodeTestJobs(true, 100);
    testutil::TempDir dir;
    const std::string raw = dir.file("a.CR2"), preview = dir.file("preview.jpg");
    testutil::WriteFile(raw, std::string("raw bytes"));
    testutil::WriteFile(preview, std::string(DecodeTestSpinMarker) + std::string(4096, '\0'));
    try {
        MakeRawThumbnail(preview, dir.path(), raw, TThumbSettings{}, RawFileIdentity(raw));
        ADD_FAILURE() << "nothing raised";
    } catch (const Exception &e) {
        EXPECT_NE(e.Message().find("limit"), std::string::npos) << e.Message();
    }
    AllowDecodeTestJobs(false);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"a.CR2", "preview.jpg"}));
}

TEST(RawConverterTest, WithoutTheCreatorWindowThumbnailsAreTheCreatorsDefault150By100) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 1);
    TRawConverter converter(1);
    const PassLog log = RunPass(converter, dir.path(), names);
    ASSERT_EQ(log.Results.size(), 1u);
    EXPECT_EQ(log.Results[0].Outcome, TRawOutcome::Converted);
    const jpegtest::JpegFacts facts =
        jpegtest::ReadFacts(testutil::ReadFile(dir.file(names[0] + ".JPG")));
    EXPECT_EQ(facts.width, 150);
    EXPECT_EQ(facts.height, 100);
}

TEST(RawConverterTest, ATurnedPreviewGivesTheThumbnailOfItsUprightPicture) {
    // Grey 8 x 8 blocks of random levels: a thumbnail sampling one pixel off shows at every
    // block edge, and there is no colour for chroma subsampling to smear.
    cr2::Rgb blocks{240, 160, {}};
    std::srand(27);
    blocks.Data.resize(std::size_t(blocks.Width) * blocks.Height * 3);
    std::vector<int> levels(std::size_t(blocks.Width / 8) * (blocks.Height / 8));
    for (int &level : levels)
        level = std::rand() % 256;
    for (int y = 0; y < blocks.Height; ++y)
        for (int x = 0; x < blocks.Width; ++x)
            for (int c = 0; c < 3; ++c)
                blocks.Data[(std::size_t(y) * blocks.Width + x) * 3 + c] =
                    std::uint8_t(levels[std::size_t(y / 8) * (blocks.Width / 8) + x / 8]);
    const cr2::Bytes preview = cr2::EncodeJpeg(blocks, 95);
    testutil::TempDir dir;
    const std::string previewFile = TRawConverter::WorkerPreviewPath(0);
    const auto thumbnail = [&](const std::string &name, const cr2::Bytes &jpeg, int orientation) {
        cr2::Cr2Options options;
        options.PreviewJpeg = jpeg;
        options.Orientation = orientation;
        cr2::WriteCr2(dir.file(name), options);
        EXPECT_EQ(ConvertRawFile(dir.path(), name, TThumbSettings{}, previewFile).Outcome,
                  TRawOutcome::Converted);
        return cr2::DecodeJpeg(testutil::ReadFile(dir.file(name + ".JPG")));
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const cr2::Rgb turned = thumbnail("turned.CR2", preview, orientation);
        // The thumbnail as it was made before: from the preview turned first, here through the
        // viewer's decode (whose turns the preview tests check), stored upright.
        ASSERT_EQ(ExtractPreviewToFile(dir.file("turned.CR2"), previewFile), 0);
        const cr2::Bytes file = testutil::ReadFile(previewFile);
        const QImage upright =
            DecodePreview(file.data(), file.size()).convertToFormat(QImage::Format_RGB888);
        cr2::Rgb rgb{upright.width(), upright.height(), {}};
        for (int y = 0; y < rgb.Height; ++y)
            rgb.Data.insert(rgb.Data.end(), upright.constScanLine(y),
                            upright.constScanLine(y) + rgb.Width * 3);
        const cr2::Rgb before = thumbnail("upright.CR2", cr2::EncodeJpeg(rgb, 100), 1);
        ASSERT_EQ(std::pair(turned.Width, turned.Height), std::pair(before.Width, before.Height));
        int worst = 0;
        for (std::size_t i = 0; i < turned.Data.size(); ++i)
            worst = std::max(worst, std::abs(int(turned.Data[i]) - int(before.Data[i])));
        EXPECT_LE(worst, 12); // JPEG rounding; a pixel off would differ by a block's contrast
    }
    ::unlink(previewFile.c_str());
}

TEST(RawConverterTest, ParallelPassWritesTheSameBytesAsOneWorkerInListingOrder) {
    testutil::TempDir one, many;
    const auto names = WriteCr2Files(one.path(), 12);
    WriteCr2Files(many.path(), 12);
    // A broken file in the middle fails by its own name and holds nothing up.
    const std::string broken = "IMG_0500.CR2";
    testutil::WriteFile(one.file(broken), std::string("not a raw file"));
    testutil::WriteFile(many.file(broken), std::string("not a raw file"));
    std::vector<std::string> list = names;
    list.insert(list.begin() + 5, broken);

    TRawConverter serial(1), parallel(4);
    EXPECT_EQ(parallel.Workers(), 4);
    const PassLog a = RunPass(serial, one.path(), list);
    const PassLog b = RunPass(parallel, many.path(), list);
    for (const PassLog *log : {&a, &b}) {
        EXPECT_FALSE(log->Stopped);
        ASSERT_EQ(log->Indices.size(), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(log->Indices[i], int(i));
            EXPECT_EQ(log->Results[i].Name, list[i]);
            EXPECT_EQ(log->Results[i].Outcome,
                      list[i] == broken ? TRawOutcome::Failed : TRawOutcome::Converted);
        }
        EXPECT_FALSE(log->Results[5].Error.empty());
    }
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const auto serialBytes = Picture(one.file(name + ".JPG"));
        ASSERT_FALSE(serialBytes.empty());
        EXPECT_EQ(Picture(many.file(name + ".JPG")), serialBytes);
    }
    EXPECT_FALSE(testutil::FileExists(one.file(broken + ".JPG")));
    EXPECT_TRUE(WorkerPreviews().empty()); // each worker's preview file goes with the pass

    // A second pass finds every thumbnail current and touches none of them.
    struct stat before {};
    ASSERT_EQ(::stat(many.file(names[0] + ".JPG").c_str(), &before), 0);
    const PassLog again = RunPass(parallel, many.path(), list);
    for (std::size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(again.Results[i].Outcome,
                  list[i] == broken ? TRawOutcome::Failed : TRawOutcome::UpToDate);
    struct stat after {};
    ASSERT_EQ(::stat(many.file(names[0] + ".JPG").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(RawConverterTest, TwoPassesAtOnceKeepTheirPreviewsApart) {
    // A pass still ending while the next one starts: each worker must read its own preview.
    testutil::TempDir a, b, reference;
    const auto names = WriteCr2Files(a.path(), 12);
    for (const std::string &name : names) {
        cr2::Cr2Options options;
        options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(200, 50)); // unlike a's
        cr2::WriteCr2(b.file(name), options);
        cr2::WriteCr2(reference.file(name), options);
    }
    TRawConverter first(2), second(2), serial(1);
    int finished = 0;
    for (TRawConverter *c : {&first, &second})
        c->OnFinished = [&](bool) { ++finished; };
    first.Start(a.path(), names, TThumbSettings{});
    second.Start(b.path(), names, TThumbSettings{});
    ASSERT_EQ(first.PreviewFiles().size(), 2u);
    ASSERT_EQ(second.PreviewFiles().size(), 2u);
    for (const std::string &mine : first.PreviewFiles())
        for (const std::string &theirs : second.PreviewFiles())
            EXPECT_NE(mine, theirs);
    ASSERT_TRUE(testutil::WaitFor([&] { return finished == 2; }));
    RunPass(serial, reference.path(), names);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Picture(b.file(name + ".JPG")), Picture(reference.file(name + ".JPG")));
        EXPECT_NE(Picture(a.file(name + ".JPG")), Picture(reference.file(name + ".JPG")));
    }
}

TEST(RawConverterTest, StopEndsThePassAfterAtMostTheFilesInHand) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 40);
    const int workers = 2;
    TRawConverter converter(workers);
    auto written = [&] {
        int n = 0;
        for (const std::string &name : names)
            n += testutil::FileExists(dir.file(name + ".JPG"));
        return n;
    };
    int delivered = 0, deliveredAfterStop = 0, writtenAtStop = -1;
    bool finished = false, stopped = false;
    converter.OnResult = [&](int, const TRawResult &) {
        if (writtenAtStop >= 0) {
            ++deliveredAfterStop;
            return;
        }
        if (++delivered == 2) {
            // Counted after Stop: a worker may take its next file between a count and Stop.
            converter.Stop();
            writtenAtStop = written();
        }
    };
    converter.OnFinished = [&](bool s) {
        finished = true;
        stopped = s;
    };
    converter.Start(dir.path(), names, TThumbSettings{});
    ASSERT_TRUE(testutil::WaitFor([&] { return finished; }));
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(converter.Running());
    EXPECT_EQ(deliveredAfterStop, 0);
    // Each worker finishes at most the file it was converting when Stop came.
    EXPECT_LE(written(), writtenAtStop + workers);
    EXPECT_LT(written(), int(names.size()));

    // The converter can run the next pass (a folder change), which completes.
    testutil::TempDir next;
    const auto nextNames = WriteCr2Files(next.path(), 3);
    const PassLog log = RunPass(converter, next.path(), nextNames);
    EXPECT_FALSE(log.Stopped);
    EXPECT_EQ(log.Indices.size(), 3u);
}

TEST(RawConverterTest, DestroyingARunningPassWaitsAndDeliversNothing) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 20);
    int calls = 0;
    {
        TRawConverter converter(2);
        converter.OnResult = [&](int, const TRawResult &) { ++calls; };
        converter.OnFinished = [&](bool) { ++calls; };
        converter.Start(dir.path(), names, TThumbSettings{});
        EXPECT_TRUE(converter.Running());
        EXPECT_THROW(converter.Start(dir.path(), names, TThumbSettings{}), std::exception);
    }
    QCoreApplication::processEvents(); // deliveries queued for the gone converter are dropped
    EXPECT_EQ(calls, 0);
}

TEST(RawConverterTest, ARaisingCallbackIsReportedAndThePassStillFinishes) {
    testutil::TempDir dir;
    const auto names = WriteCr2Files(dir.path(), 6);
    std::vector<std::string> boxes;
    auto scope = testutil::ChangeServices([&](TPlatformServices &s) {
        s.MessageBox = [&](HWND, const std::string &text, const std::string &, UINT) {
            boxes.push_back(text);
            return IDOK;
        };
    });
    TRawConverter converter(2);
    std::vector<int> delivered;
    bool finished = false;
    // The first and the last result raise: after the last, nothing else would come to finish.
    converter.OnResult = [&](int index, const TRawResult &) {
        delivered.push_back(index);
        if (index == 0 || index == 5)
            throw Exception("callback failed");
    };
    converter.OnFinished = [&](bool) { finished = true; };
    converter.Start(dir.path(), names, TThumbSettings{});
    ASSERT_TRUE(testutil::WaitFor([&] { return finished; }));
    EXPECT_EQ(delivered, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(boxes, (std::vector<std::string>{"callback failed", "callback failed"}));
    EXPECT_NO_THROW(converter.Start(dir.path(), names, TThumbSettings{}));
    converter.Wait();
}

TEST(RawConverterTest, AnEmptyListFinishesAtOnce) {
    TRawConverter converter(3);
    const PassLog log = RunPass(converter, "/nonexistent", {});
    EXPECT_TRUE(log.Finished);
    EXPECT_FALSE(log.Stopped);
    EXPECT_TRUE(log.Indices.empty());
}
