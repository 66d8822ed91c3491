// The decoding helper: what a hostile file could make a decoder do ends within its limit, the
// next file decodes as usual, and the helper can reach nothing beyond what it is handed.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Cr2Writer.h"
#include "DecodeSandbox.h"
#include "DecodeWire.h"
#include "RawPreview.h"
#include "TestUtil.h"

namespace {

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        AllowDecodeTestJobs(true);
        ForgetDecodeFailures();
    }
    void TearDown() override { AllowDecodeTestJobs(false); }

    std::string Good() { return Cr2("good.CR2"); }
    bool Decodes(const std::string &raw) {
        return ExtractPreviewToFile(raw, FFiles.file("preview.jpg")) == 0 &&
               ::unlink(FFiles.file("preview.jpg").c_str()) == 0;
    }
    TSandboxResult Run(TDecodeJob job, const std::string &path = {}) {
        TDecodeRequest request;
        request.Job = job;
        request.BudgetMs = 300;
        std::snprintf(request.Path, sizeof request.Path, "%s", path.c_str());
        const int fd = ::open(Good().c_str(), O_RDONLY | O_CLOEXEC);
        TSandboxResult result = RunDecode(request, fd);
        ::close(fd);
        return result;
    }

    std::string Cr2(const std::string &name) {
        cr2::Cr2Options options;
        options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(64, 48));
        cr2::WriteCr2(FFiles.file(name), options);
        return FFiles.file(name);
    }

    testutil::TempDir FFiles;
};

bool KernelHasLandlock() {
    return ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) > 0;
}

} // namespace

TEST_F(SandboxTest, AFlippedByteThatCrashesTheRawLibraryIsANamedFailure) {
    PIXAVANT_REQUIRE_SAMPLES();
    // Byte 65 gives IFD0's Compression tag a count of 0x80000001: LibRaw 0.20 then writes past
    // its thumbnail buffer.
    auto bytes = testutil::ReadFile(testutil::Sample("raw/bep_sample_SD450_trunc.dng"));
    ASSERT_GT(bytes.size(), 65u);
    bytes[65] = 0x80;
    const std::string dng = FFiles.file("flipped.dng");
    testutil::WriteFile(dng, bytes);

    const int code = ExtractPreviewToFile(dng, FFiles.file("preview.jpg"));
    EXPECT_NE(code, 0);
    EXPECT_NE(RawPreviewFailureText(code).find("crashed"), std::string::npos)
        << RawPreviewFailureText(code);
    EXPECT_TRUE(Decodes(Good()));
}

TEST_F(SandboxTest, ARunawayDecodeEndsWithinItsLimitAndTheNextFileDecodes) {
    struct Row {
        TDecodeJob Job;
        TSandboxEnd End;
    };
    std::vector<Row> rows = {{TDecodeJob::TestCrash, TSandboxEnd::Crashed},
                             {TDecodeJob::TestSpin, TSandboxEnd::OverLimit},
                             {TDecodeJob::TestSleep, TSandboxEnd::OverLimit}};
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's shadow memory rules out a memory limit
    rows.push_back({TDecodeJob::TestAllocate, TSandboxEnd::OverLimit});
#endif
    for (const Row &row : rows) {
        SCOPED_TRACE(int(row.Job));
        EXPECT_EQ(Run(row.Job).End, row.End);
        EXPECT_TRUE(Decodes(Good()));
    }
}

TEST_F(SandboxTest, AHelperThatServedManyFilesStillHasItsWholeBudgetForTheNext) {
    // Each request uses half its budget: together far more than any one may.
    for (int i = 0; i < 12; ++i) {
        TDecodeRequest request;
        request.Job = TDecodeJob::TestBurn;
        request.BudgetMs = 400;
        const int fd = ::open(Good().c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(RunDecode(request, fd).End, TSandboxEnd::Done) << i;
        ::close(fd);
    }
}

TEST_F(SandboxTest, TheHelperCanReachNothingItWasNotHanded) {
    const std::string secret = FFiles.file("secret.txt");
    testutil::WriteFile(secret, std::string("not for decoders"));
    struct Row {
        TDecodeJob Job;
        std::string Path;
    };
    std::vector<Row> rows = {{TDecodeJob::TestOpen, secret},
                             {TDecodeJob::TestCreate, FFiles.file("planted.txt")},
                             {TDecodeJob::TestSocket, ""}};
    // The metafile helper reads fonts; the rest of the file system is closed to it by Landlock.
    if (KernelHasLandlock())
        rows.push_back({TDecodeJob::TestOpenInFonts, secret});
    for (const Row &row : rows) {
        SCOPED_TRACE(int(row.Job));
        const TSandboxResult result = Run(row.Job, row.Path);
        ASSERT_EQ(result.End, TSandboxEnd::Done);
        EXPECT_TRUE(result.Reply.Code == EACCES || result.Reply.Code == EPERM) << result.Reply.Code;
    }
    EXPECT_FALSE(testutil::FileExists(FFiles.file("planted.txt")));
}

TEST_F(SandboxTest, AFileThatFailedIsNotDecodedAgainUntilItChanges) {
    const std::string text = FFiles.file("text.CR2");
    testutil::WriteFile(text, std::string("not a raw file at all\n"));
    EXPECT_NE(ExtractPreviewToFile(text, FFiles.file("preview.jpg")), 0);
    const std::uint64_t before = DecodesRun();
    EXPECT_NE(ExtractPreviewToFile(text, FFiles.file("preview.jpg")), 0);
    EXPECT_EQ(DecodesRun(), before);

    // Another file in its place is decoded.
    ASSERT_EQ(::rename(Cr2("new.CR2").c_str(), text.c_str()), 0);
    EXPECT_TRUE(Decodes(text));
}

TEST_F(SandboxTest, EachWayAFileFailsIsNamedForTheUser) {
    const std::string spin = FFiles.file("spin.CR2");
    testutil::WriteFile(spin, std::string(DecodeTestSpinMarker) + std::string(4096, '\0'));
    const std::atomic<bool> cancelled{true};
    const struct {
        std::string Raw;
        const std::atomic<bool> *Cancel;
        std::string Text;
    } rows[] = {{FFiles.file("missing.CR2"), nullptr, "the file cannot be opened"},
                {FFiles.path(), nullptr, "the file cannot be opened"},
                {spin, &cancelled, "its decode was cancelled"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Raw);
        EXPECT_EQ(RawPreviewFailureText(
                      ExtractPreviewToFile(row.Raw, FFiles.file("preview.jpg"), row.Cancel)),
                  row.Text);
    }
}
