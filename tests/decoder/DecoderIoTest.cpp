// The decoder's input/output table: its layout, the open modes, each entry's results at the
// edges, and the x87 control word it hands back.
#include <gtest/gtest.h>

#include "DecoderIo.h"
#include "Exceptions.h"
#include "Global_FastIO.h"
#include "TestUtil.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

using testutil::TempDir;

struct Closer {
    void operator()(TDecoderFile *f) const { IoClose(f); }
};
using Stream = std::unique_ptr<TDecoderFile, Closer>;

Stream Open(const std::string &name, const char *mode) {
    return Stream(IoOpen(name.c_str(), mode));
}

std::string Contents(const std::string &path) {
    const auto bytes = testutil::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void LoadControlWord(std::uint16_t w) {
#if defined(__i386__) || defined(__x86_64__)
    asm volatile("fldcw %0" : : "m"(w));
#else
    (void)w;
#endif
}

} // namespace

TEST(DecoderIoTable, HasItsSizeFirstThirteenEntriesAndZeroSlots) {
    TDecoderIoTable table;
    std::memset(&table, 0xAB, sizeof table);
    BuildDecoderIoTable(table);
    std::int32_t first;
    std::memcpy(&first, &table, 4);
    EXPECT_EQ(first, static_cast<std::int32_t>(sizeof(TDecoderIoTable)));
    EXPECT_EQ(sizeof(TDecoderIoTable), 16 * sizeof(void *));

    void *fields[16];
    std::memcpy(fields, &table, sizeof fields);
    const void *expected[] = {
        reinterpret_cast<void *>(&IoFileId), reinterpret_cast<void *>(&IoGets),
        reinterpret_cast<void *>(&IoOpen),   reinterpret_cast<void *>(&IoClose),
        reinterpret_cast<void *>(&IoTell),   reinterpret_cast<void *>(&IoNoOp),
        reinterpret_cast<void *>(&IoRead),   reinterpret_cast<void *>(&IoGetc),
        reinterpret_cast<void *>(&IoWrite),  reinterpret_cast<void *>(&IoPutc),
        reinterpret_cast<void *>(&IoPuts),   reinterpret_cast<void *>(&IoEof),
        reinterpret_cast<void *>(&IoSeek)};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(fields[i + 1], expected[i]) << "entry " << i;
    EXPECT_EQ(fields[14], nullptr);
    EXPECT_EQ(fields[15], nullptr);
}

TEST(DecoderIoTable, OpenModesDecideAccessCreationAndAppending) {
    TempDir dir;
    const std::string f = dir.file("f");
    EXPECT_EQ(IoOpen(f.c_str(), "rb"), nullptr);
    EXPECT_EQ(IoOpen(f.c_str(), "a"), nullptr);
    EXPECT_EQ(IoOpen(f.c_str(), "q"), nullptr);
    {
        Stream s = Open(f, "wb");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->Magic, 0x6969); // the value the library's records are known by
        EXPECT_EQ(IoFileId(s.get()), reinterpret_cast<std::intptr_t>(s->File));
        EXPECT_EQ(IoWrite("abcdef", 1, 6, s.get()), 6);
    }
    EXPECT_EQ(Contents(f), "abcdef");
    {
        // rb+ contains "r+" only after "b": the letter r decides, read only.
        Stream s = Open(f, "rb+");
        ASSERT_NE(s, nullptr);
        try {
            IoWrite("x", 1, 1, s.get());
            FAIL() << "wrote to a stream opened for reading";
        } catch (const EInOutError &e) {
            EXPECT_EQ(e.ErrorCode(), 103);
            EXPECT_STREQ(e.what(), "I/O error 103");
        }
    }
    {
        Stream s = Open(f, "a+");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(IoSeek(s.get(), 0, 0), 0);
        EXPECT_EQ(IoPuts("gh", s.get()), 1);
        EXPECT_EQ(IoPutc('i', s.get()), 'i');
        EXPECT_EQ(IoWrite("jk", 2, 1, s.get()), 1);
        EXPECT_EQ(IoSeek(s.get(), 0, 0), 0);
        EXPECT_EQ(IoGetc(s.get()), 'a'); // reads use the ordinary position
    }
    EXPECT_EQ(Contents(f), "abcdefghijk");
    {
        Stream s = Open(f, "r+");
        EXPECT_EQ(IoWrite("XY", 1, 2, s.get()), 2);
    }
    EXPECT_EQ(Contents(f), "XYcdefghijk");
    {
        Stream s = Open(f, "w+");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(IoEof(s.get()), -1);
    }
    EXPECT_EQ(Contents(f), "");
    {
        Stream s = Open("", "rb");
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(s->File->InMemory());
        EXPECT_EQ(IoWrite("mem", 1, 3, s.get()), 3);
        EXPECT_EQ(IoSeek(s.get(), 0, 0), 0);
        EXPECT_EQ(IoGetc(s.get()), 'm');
    }
}

TEST(DecoderIoTable, EntriesAtTheEdgesOfTheData) {
    TempDir dir;
    testutil::WriteFile(dir.file("lines"), std::string("ab\ncd"));
    Stream s = Open(dir.file("lines"), "r");
    char buf[16];
    EXPECT_STREQ(IoGets(buf, 10, s.get()), "ab");
    EXPECT_STREQ(IoGets(buf, 10, s.get()), "cd");
    EXPECT_EQ(IoGets(buf, 10, s.get()), nullptr);
    EXPECT_EQ(IoGetc(s.get()), -1);
    EXPECT_EQ(IoEof(s.get()), -1);
    EXPECT_EQ(IoTell(s.get()), 5);

    testutil::WriteFile(dir.file("long"), std::string("abcdef\n"));
    Stream l = Open(dir.file("long"), "r");
    EXPECT_STREQ(IoGets(buf, 3, l.get()), "ab");
    EXPECT_EQ(IoGetc(l.get()), 'd');
    EXPECT_EQ(IoEof(l.get()), 0);
    EXPECT_EQ(IoSeek(l.get(), 0, 3), -1);
    EXPECT_EQ(IoTell(l.get()), 4);

    testutil::WriteFile(dir.file("ten"), std::string("0123456789"));
    Stream t = Open(dir.file("ten"), "r+");
    char got[12];
    EXPECT_EQ(IoRead(got, 4, 3, t.get()), 10);
    EXPECT_EQ(IoWrite("abcdefghijkl", 4, 3, t.get()), 3);
    EXPECT_EQ(IoWrite("abc", 0, 3, t.get()), 0);
    EXPECT_EQ(IoPutc(321, t.get()), 65);
    EXPECT_EQ(IoPuts("", t.get()), 1);
    t.reset();
    EXPECT_EQ(Contents(dir.file("ten")), "0123456789abcdefghijklA");

    testing::internal::CaptureStdout();
    EXPECT_EQ(IoPutc(65, nullptr), 65);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "A");
}

TEST(DecoderIoTable, RecordsWithoutTheMagicValueAreRefused) {
    TempDir dir;
    testutil::WriteFile(dir.file("f"), std::string("abc"));
    Stream s = Open(dir.file("f"), "r");
    s->Magic = 0;
    char buf[4];
    EXPECT_EQ(IoClose(s.get()), 0);
    EXPECT_EQ(IoTell(s.get()), -1);
    EXPECT_EQ(IoRead(buf, 1, 1, s.get()), -1);
    EXPECT_EQ(IoWrite(buf, 1, 1, s.get()), -1);
    EXPECT_EQ(IoPutc(1, s.get()), -1);
    EXPECT_EQ(IoPuts("x", s.get()), -1);
    EXPECT_EQ(IoEof(s.get()), -1);
    EXPECT_EQ(IoSeek(s.get(), 0, 0), -1);
    EXPECT_EQ(IoFileId(s.get()), -1);
    EXPECT_STREQ(IoGets(buf, 4, s.get()), "");
    s->Magic = 0x6969; // still open: the record was not released
    EXPECT_EQ(IoGetc(s.get()), 'a');
}

TEST(DecoderIoTable, AFailingStandardOutputRaisesInsteadOfReturning) {
    // Standard output on a full device: the byte is accepted into the buffer, the flush fails.
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ::dup2(full, STDOUT_FILENO);
    ::close(full);
    EXPECT_THROW(IoPutc('A', nullptr), EInOutError);
    std::clearerr(stdout);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::clearerr(stdout);
}

TEST(DecoderIoTable, AFullDiskCountsWholeItemsAndFailsAnUnfinishedString) {
    // A size limit of 10 bytes on a file of 4 leaves room for 6: writes stop part-way.
    struct FileSizeLimit {
        rlimit Saved{};
        void (*OldHandler)(int);
        explicit FileSizeLimit(rlim_t bytes) : OldHandler(std::signal(SIGXFSZ, SIG_IGN)) {
            ::getrlimit(RLIMIT_FSIZE, &Saved);
            rlimit limit = Saved;
            limit.rlim_cur = bytes;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ~FileSizeLimit() {
            ::setrlimit(RLIMIT_FSIZE, &Saved);
            std::signal(SIGXFSZ, OldHandler);
        }
    };
    const struct {
        const char *Entry, *Mode;
        int (*Write)(TDecoderFile *);
        std::int32_t Result;
    } cases[] = {
        {"IoWrite 4 x 2", "r+", [](TDecoderFile *s) { return IoWrite("abcdefgh", 4, 2, s); }, 1},
        {"IoWrite 3 x 3", "a", [](TDecoderFile *s) { return IoWrite("abcdefghi", 3, 3, s); }, 2},
        {"IoPuts", "a", [](TDecoderFile *s) { return IoPuts("abcdefgh", s); }, -1},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Entry);
        testutil::WriteFile(dir.file("f"), std::string("0123"));
        {
            Stream s = Open(dir.file("f"), c.Mode);
            ASSERT_NE(s, nullptr);
            ASSERT_EQ(IoSeek(s.get(), 4, 0), 0);
            FileSizeLimit limit(10);
            EXPECT_EQ(c.Write(s.get()), c.Result);
        }
        EXPECT_EQ(Contents(dir.file("f")), "0123abcdef");
    }
}

TEST(DecoderIoTable, AppendStreamsWriteAtTheEndWhereverTheyWereMoved) {
    const struct {
        const char *Entry;
        int (*Write)(TDecoderFile *);
        std::int32_t Result;
        const char *Contents;
    } cases[] = {
        {"IoWrite", [](TDecoderFile *s) { return IoWrite("xy", 1, 2, s); }, 2, "abcxyxy"},
        {"IoPuts", [](TDecoderFile *s) { return IoPuts("xy", s); }, 1, "abcxyxy"},
        {"IoPutc", [](TDecoderFile *s) { return IoPutc('x', s); }, 'x', "abcxx"},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Entry);
        testutil::WriteFile(dir.file("f"), std::string("abc"));
        {
            Stream s = Open(dir.file("f"), "a");
            ASSERT_NE(s, nullptr);
            for (int i = 0; i < 2; ++i) {
                ASSERT_EQ(IoSeek(s.get(), 1, 0), 0);
                EXPECT_EQ(c.Write(s.get()), c.Result);
            }
        }
        EXPECT_EQ(Contents(dir.file("f")), c.Contents);
    }
}

#if defined(__i386__) || defined(__x86_64__)
TEST(DecoderIoTable, EntriesHandBackTheCallersControlWord) {
    const std::uint16_t before = DefaultFpuControl;
    TempDir dir;
    testutil::WriteFile(dir.file("f"), std::string("abc"));
    Stream s = Open(dir.file("f"), "r");

    LoadControlWord(0x0C7F); // what a decoder might run with: rounding toward zero
    EXPECT_EQ(IoTell(s.get()), 0);
    EXPECT_EQ(LiveFpuControl(), 0x0C7F);
    EXPECT_EQ(DefaultFpuControl, 0x0C7F);

    // Also when the entry leaves by an exception.
    LoadControlWord(0x027F);
    EXPECT_THROW(IoSeek(s.get(), -5, 0), EInOutError);
    EXPECT_EQ(LiveFpuControl(), 0x027F);

    SetFpuControl(before);
    EXPECT_EQ(LiveFpuControl(), before);
    ResetFpu();
    EXPECT_EQ(LiveFpuControl(), before);
}
#endif
