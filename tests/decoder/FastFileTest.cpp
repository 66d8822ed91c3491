// The buffered file: what the buffer holds after each operation, where writes land, the
// in-memory mode and how failures surface.
#include <gtest/gtest.h>

#include "Exceptions.h"
#include "Global_FastIO.h"
#include "ReadCounter.h"
#include "TestUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

namespace {

using testutil::TempDir;

std::vector<std::uint8_t> Numbered(int n) {
    std::vector<std::uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = std::uint8_t(i * 7 + 3);
    return v;
}

// Changes one byte of the file behind the object's back.
void Poke(const std::string &path, int offset, std::uint8_t value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.put(static_cast<char>(value));
}

std::unique_ptr<TFastFile> OpenFile(const std::string &path, std::int32_t mode) {
    std::int32_t code = -1;
    auto file = std::make_unique<TFastFile>(path, mode, code);
    EXPECT_EQ(code, 0);
    return file;
}

int InOutCodeOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const EInOutError &e) {
        return e.ErrorCode();
    }
    return 0;
}

} // namespace

TEST(FastFile, ReadsThroughTheBufferAndStopsAtTheEnd) {
    TempDir dir;
    const auto data = Numbered(5000);
    testutil::WriteFile(dir.file("f"), data);
    auto file = OpenFile(dir.file("f"), 0x40);

    EXPECT_EQ(file->ReadByte(), data[0]);
    EXPECT_EQ(file->Position(), 1);
    EXPECT_EQ(file->RawPosition(), 4096);

    file->Seek(0, 0);
    std::vector<std::uint8_t> got(6000, 0);
    EXPECT_EQ(file->Read(got.data(), 5000), 5000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
    EXPECT_FALSE(file->EndFlag());
    EXPECT_EQ(file->Read(got.data(), 10), 0);
    EXPECT_TRUE(file->EndFlag());
    EXPECT_EQ(file->ReadByte(), 0);
    EXPECT_EQ(file->Position(), 5000);

    // Large reads from the middle give the same bytes whatever the buffer held before.
    file->Seek(123, 0);
    ASSERT_EQ(file->Read(got.data(), 4096 + 50), 4096 + 50);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 4146, data.begin() + 123));
    file->Seek(-10, 1);
    EXPECT_EQ(file->ReadByte(), data[123 + 4146 - 10]);
    file->Seek(-1, 2);
    EXPECT_EQ(file->ReadByte(), data[4999]);
    file->Seek(9000, 0); // beyond the end: allowed, reads obtain nothing
    EXPECT_EQ(file->Read(got.data(), 5), 0);
    EXPECT_EQ(file->Size(), 5000);
}

TEST(FastFile, SeeksInsideTheBufferWithoutTouchingTheFile) {
    TempDir dir;
    const auto data = Numbered(5000);
    testutil::WriteFile(dir.file("f"), data);
    auto file = OpenFile(dir.file("f"), 0x42);
    std::uint8_t ten[10];
    ASSERT_EQ(file->Read(ten, 10), 10);

    // The buffer still answers after the file changed underneath: no refill happened.
    Poke(dir.file("f"), 0, 0xEE);
    EXPECT_EQ(file->Seek(0, 0), 0);
    EXPECT_EQ(file->ReadByte(), data[0]);
    EXPECT_EQ(file->RawPosition(), 4096);

    // The end of the buffered data is not inside the buffer.
    EXPECT_EQ(file->Seek(4096, 0), 4096);
    EXPECT_EQ(file->RawPosition(), 4096);
    EXPECT_EQ(file->Position(), 4096);

    // After a write every seek goes to the file.
    file->Seek(20, 0);
    const std::uint8_t x = 0x11;
    EXPECT_EQ(file->Write(&x, 1), 1);
    EXPECT_EQ(file->Seek(0, 0), 0);
    EXPECT_EQ(file->ReadByte(), 0xEE);
}

TEST(FastFile, PastTheEndNothingMoreIsReadUntilASeek) {
    TempDir dir;
    const auto data = Numbered(300);
    testutil::WriteFile(dir.file("f"), std::vector<std::uint8_t>(data.begin(), data.begin() + 100));
    auto file = OpenFile(dir.file("f"), 0x40);
    std::vector<std::uint8_t> got(300, 0);
    ASSERT_EQ(file->Read(got.data(), 200), 100);
    ASSERT_TRUE(file->EndFlag());

    // The file grows behind the object's back; the end stays the end until a Seek.
    testutil::WriteFile(dir.file("f"), data);
    readcounter::Watch(dir.file("f"));
    EXPECT_EQ(file->Read(got.data(), 10), 0);
    EXPECT_EQ(file->Read(got.data(), 5000), 0);
    EXPECT_EQ(readcounter::Calls(), 0);
    EXPECT_TRUE(file->EndFlag());

    EXPECT_EQ(file->Seek(0, 1), 100);
    EXPECT_EQ(file->Read(got.data(), 10), 10);
    EXPECT_EQ(got[0], data[100]);
    EXPECT_EQ(readcounter::Calls(), 1);
}

TEST(FastFile, PlatformReadsOfSeeksAfterLargeReadsAndOfRefillsAtTheEnd) {
    TempDir dir;
    const auto data = Numbered(3 * 4096 + 100);
    testutil::WriteFile(dir.file("f"), data);
    auto file = OpenFile(dir.file("f"), 0x40);
    std::vector<std::uint8_t> got(8192, 0);
    readcounter::Watch(dir.file("f"));

    // A large read leaves its last block as the window: stepping back into it is free.
    ASSERT_EQ(file->Read(got.data(), 8192), 8192);
    readcounter::Reset();
    EXPECT_EQ(file->Seek(-10, 1), 8182);
    EXPECT_EQ(file->ReadByte(), data[8182]);
    EXPECT_EQ(file->Seek(4096, 0), 4096);
    EXPECT_EQ(file->ReadByte(), data[4096]);
    EXPECT_EQ(readcounter::Calls(), 0);

    // The end of the buffered data is not inside it: that seek empties the buffer, so even a
    // step back afterwards reads from the file again.
    EXPECT_EQ(file->Seek(8192, 0), 8192);
    EXPECT_EQ(file->Seek(8000, 0), 8000);
    EXPECT_EQ(file->ReadByte(), data[8000]);
    EXPECT_EQ(readcounter::Calls(), 1);

    // A refill that reaches the end is one call; the one after it finds nothing and sets the
    // end flag, another call.
    file->Seek(3 * 4096, 0);
    readcounter::Reset();
    EXPECT_EQ(file->ReadByte(), data[3 * 4096]);
    EXPECT_EQ(readcounter::Calls(), 1);
    EXPECT_EQ(file->Read(got.data(), 200), 99);
    EXPECT_EQ(got[98], data.back());
    EXPECT_TRUE(file->EndFlag());
    EXPECT_EQ(readcounter::Calls(), 2);
}

TEST(FastFile, WritesAtTheLogicalPosition) {
    TempDir dir;
    testutil::WriteFile(dir.file("f"), Numbered(5000));
    auto file = OpenFile(dir.file("f"), 0x42);
    std::uint8_t three[3];
    file->Read(three, 3);
    ASSERT_EQ(file->RawPosition(), 4096);
    EXPECT_EQ(file->Write("XY", 2), 2);
    EXPECT_EQ(file->Position(), 5);
    EXPECT_EQ(file->RawPosition(), 5);
    EXPECT_EQ(file->ReadByte(), Numbered(6)[5]);
    file.reset();

    const auto after = testutil::ReadFile(dir.file("f"));
    ASSERT_EQ(after.size(), 5000u);
    EXPECT_EQ(after[3], 'X');
    EXPECT_EQ(after[4], 'Y');
    EXPECT_EQ(after[4096], Numbered(5000)[4096]);
}

TEST(FastFile, EmptyNameLivesInMemory) {
    std::int32_t code = -1;
    TFastFile file("", 0x40, code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(file.InMemory());
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Write("hello", 5), 5);
    EXPECT_EQ(file.Size(), 5);
    EXPECT_EQ(file.Seek(0, 0), 0);
    char back[8] = {};
    EXPECT_EQ(file.Read(back, 8), 5);
    EXPECT_STREQ(back, "hello");
    EXPECT_TRUE(file.EndFlag());
    file.Seek(10, 0); // writing past the end fills the gap with zeros
    file.Write("!", 1);
    EXPECT_EQ(file.Size(), 11);
    // Before the start: no error, nothing read, nothing written.
    EXPECT_EQ(file.Seek(-1, 0), -1);
    EXPECT_EQ(file.Read(back, 8), 0);
    EXPECT_TRUE(file.EndFlag());
    EXPECT_EQ(file.Write("xy", 2), 0);
    EXPECT_EQ(file.Size(), 11);
    EXPECT_EQ(file.Seek(0, 0), 0);
    EXPECT_EQ(file.Read(back, 2), 2);
    EXPECT_EQ(file.Position(), 2);
    EXPECT_EQ(file.Read(back + 2, 3), 3); // on from where the last read ended
    EXPECT_EQ(std::string(back, 5), "hello");
    EXPECT_EQ(file.Write("z", 0), 0);
}

TEST(FastFile, FailuresRaiseInOutErrorsWithFixedMessages) {
    TempDir dir;
    const std::string missing = dir.file("missing");
    try {
        std::int32_t code = 0;
        TFastFile file(missing, 0x40, code);
        FAIL() << "opened a missing file";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    {
        auto created = OpenFile(missing, FastFileCreateMode);
        EXPECT_EQ(created->Size(), 0);
    }
    EXPECT_TRUE(testutil::FileExists(missing));

    testutil::WriteFile(dir.file("ro"), std::string("abc"));
    auto ro = OpenFile(dir.file("ro"), 0x40);
    EXPECT_EQ(InOutCodeOf([&] { ro->Write("x", 1); }), 103);
    EXPECT_EQ(InOutCodeOf([&] { ro->Seek(-1, 0); }), 131);

    std::int32_t code = 0;
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(dir.path(), 0x40, code); }), 5);
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(dir.file("ro") + "/x", 0x40, code); }), 3);
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(std::string("a\0b", 3), 0x40, code); }), 3);
    // A pipe with no writer must not hang the opening.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(dir.file("fifo"), 0x40, code); }), 5);
    // The sandbox hands over descriptors: a folder's is refused the same way.
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(folder); }), 5);
    ::chmod(dir.file("ro").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(InOutCodeOf([&] { TFastFile f(dir.file("ro"), 0x40, code); }), 5);
    }
}

TEST(FastFile, RefusesFilesBeyondThirtyTwoBitPositions) {
    TempDir dir;
    const std::string big = dir.file("big");
    const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 31), 0); // sparse: costs no disk space
    ::close(fd);
    std::int32_t code = 0;
    EXPECT_EQ(InOutCodeOf([&] { TFastFile f(big, 0x40, code); }), FastFileTooLargeCode);

    auto file = OpenFile(dir.file("small"), FastFileCreateMode);
    file->Seek(0x7FFFFFF0, 0);
    EXPECT_EQ(InOutCodeOf([&] { file->Write("0123456789abcdefgh", 18); }), FastFileTooLargeCode);
    EXPECT_EQ(InOutCodeOf([&] { file->Seek(0x7FFFFFFF, 1); }), FastFileTooLargeCode);
}
