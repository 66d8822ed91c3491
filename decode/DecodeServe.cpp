#include "DecodeServe.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Exceptions.h"
#include "JpegConv.h"
#include "MagickDecoder.h"
#include "MetaLibrary.h"
#include "PictureFit.h"
#include "PictureKind.h"
#include "QtDecoder.h"
#include "RawPreview.h"
#include "ShootingInfo.h"

namespace {

bool WriteAll(int fd, const void *data, std::size_t size) {
    const auto *p = static_cast<const unsigned char *>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, p + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

void AnswerPicture(const QImage &decoded, int out, TDecodeReply &reply) {
    // Palettes travel as full colour; every other format as it is, so the program scales it
    // exactly as it would have scaled its own decode.
    QImage image = decoded;
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
        image.format() == QImage::Format_MonoLSB)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    const std::int64_t size = std::int64_t(image.sizeInBytes());
    if (size > MaxDecodeOutputBytes) {
        reply.Status = TDecodeStatus::OutputTooLarge;
        return;
    }
    if (::ftruncate(out, 0) != 0 || !WriteAll(out, image.constBits(), std::size_t(size))) {
        reply.Status = TDecodeStatus::OutputTooLarge;
        return;
    }
    reply.Size = size;
    reply.Width = image.width();
    reply.Height = image.height();
    reply.BytesPerLine = int(image.bytesPerLine());
    reply.Format = int(image.format());
}

void RunTestJob(const TDecodeRequest &request, TDecodeReply &reply) {
    std::string path(request.Path, strnlen(request.Path, sizeof request.Path));
    switch (request.Job) {
    case TDecodeJob::TestCrash:
        std::raise(SIGSEGV);
        break;
    case TDecodeJob::TestSpin:
        for (unsigned long i = 0;; ++i)
            asm volatile("" : : "r"(i)); // a loop the compiler may not remove
    case TDecodeJob::TestSleep:
        for (;;)
            ::pause();
    case TDecodeJob::TestBurn: {
        const std::clock_t end =
            std::clock() + std::clock_t(request.BudgetMs / 2 * (CLOCKS_PER_SEC / 1000));
        for (unsigned long i = 0; std::clock() < end; ++i)
            asm volatile("" : : "r"(i));
        break;
    }
    case TDecodeJob::TestAllocate: {
        std::vector<std::unique_ptr<char[]>> held;
        for (;;) {
            held.emplace_back(new char[64 << 20]);
            std::memset(held.back().get(), 1, 64 << 20);
        }
    }
    case TDecodeJob::TestOpen:
    case TDecodeJob::TestOpenInFonts: {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        reply.Code = fd >= 0 ? 0 : errno;
        break;
    }
    case TDecodeJob::TestCreate: {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        reply.Code = fd >= 0 ? 0 : errno;
        break;
    }
    case TDecodeJob::TestSocket: {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        reply.Code = fd >= 0 ? 0 : errno;
        break;
    }
    default:
        return;
    }
    reply.Status = TDecodeStatus::Done;
}

// A conversion that raised: its class and message, for the program to raise again.
void Failed(TDecodeReply &reply, const char *className, const char *message) {
    reply.Code = 1;
    std::snprintf(reply.ErrorClass, sizeof reply.ErrorClass, "%s", className);
    std::snprintf(reply.Error, sizeof reply.Error, "%s", message);
}

bool IsTestSpinFile(int in) {
    char head[sizeof DecodeTestSpinMarker - 1] = {};
    return ::pread(in, head, sizeof head, 0) == ssize_t(sizeof head) &&
           std::memcmp(head, DecodeTestSpinMarker, sizeof head) == 0;
}

} // namespace

// Qt loads an image plugin on its first use and ImageMagick its coder; once locked down, neither
// could open its library any more. Each is used once on nothing first.
void LoadDecoders(bool metafiles) {
    // Each reader says why it cannot read nothing; that is not news.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    struct TRestore {
        QtMessageHandler handler;
        ~TRestore() { qInstallMessageHandler(handler); }
    } restore{previous};
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        QBuffer nothing;
        nothing.setData(QByteArray(16, '\0'));
        nothing.open(QIODevice::ReadOnly);
        QImageReader reader(&nothing, format);
        reader.canRead();
    }
    // The metadata library sets itself up once, reading what it needs while it still can.
    InitMetaLibrary();
    if (!metafiles)
        return;
    // The smallest metafile: a placeable header (16 x 16 at 1440 units an inch), the header
    // and the end record, in little-endian words.
    std::vector<unsigned char> bytes;
    const auto word = [&bytes](unsigned w) {
        bytes.push_back(static_cast<unsigned char>(w & 0xFF));
        bytes.push_back(static_cast<unsigned char>(w >> 8));
    };
    for (const unsigned w : {0xCDD7u, 0x9AC6u, 0u, 0u, 0u, 16u, 16u, 1440u, 0u, 0u})
        word(w);
    unsigned checksum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        checksum ^= unsigned(bytes[i] | bytes[i + 1] << 8);
    word(checksum);
    // Type, header size, version, size in words (two), objects, largest record (two), unused.
    for (const unsigned w : {1u, 9u, 0x300u, 12u, 0u, 0u, 3u, 0u, 0u})
        word(w);
    for (const unsigned w : {3u, 0u, 0u}) // the end record: three words, function 0
        word(w);
    const int fd = ::memfd_create("pixavant-wmf", MFD_CLOEXEC);
    if (fd < 0)
        return;
    if (::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size())) {
        std::atomic<bool> never{false};
        QImage image;
        DecodeMetafile(fd, QSize(16, 16), false, TStop(never, std::chrono::seconds(5)), image);
    }
    ::close(fd);
}

TDecodeReply Serve(const TDecodeRequest &request, int in, int out, bool testJobs) {
    TDecodeReply reply;
    if (request.Magic != DecodeWireMagic)
        return reply;
    std::atomic<bool> never{false};
    const TStop stop(never, std::chrono::milliseconds(request.BudgetMs));
    const QSize box(request.BoxWidth, request.BoxHeight);
    switch (request.Job) {
    case TDecodeJob::RawPreview: {
        if (testJobs && IsTestSpinFile(in)) {
            TDecodeRequest spin = request;
            spin.Job = TDecodeJob::TestSpin;
            RunTestJob(spin, reply);
        }
        reply.Status = TDecodeStatus::Done;
        reply.Code = ExtractPreviewBetweenDescriptors(in, out);
        struct stat st {};
        if (reply.Code == 0 && ::fstat(out, &st) == 0)
            reply.Size = st.st_size;
        return reply;
    }
    case TDecodeJob::Thumbnail: {
        if (testJobs && IsTestSpinFile(in)) {
            TDecodeRequest spin = request;
            spin.Job = TDecodeJob::TestSpin;
            RunTestJob(spin, reply);
        }
        reply.Status = TDecodeStatus::Done;
        try {
            MakeThumbnailBetweenDescriptors(
                in, std::string(request.Path, strnlen(request.Path, sizeof request.Path)), out,
                request.BoxWidth, request.BoxHeight, TColor(request.FillColor),
                std::string(request.Identity, strnlen(request.Identity, sizeof request.Identity)));
            struct stat st {};
            reply.Size = ::fstat(out, &st) == 0 ? st.st_size : 0;
        } catch (const Exception &e) {
            Failed(reply, e.ClassName(), e.what());
        } catch (const std::bad_alloc &) {
            Failed(reply, "EOutOfMemory", "Out of memory");
        } catch (const std::exception &e) {
            Failed(reply, "Exception", e.what());
        }
        return reply;
    }
    case TDecodeJob::ShootingInfo: {
        reply.Status = TDecodeStatus::Done;
        struct stat st {};
        if (::fstat(in, &st) != 0 || st.st_size <= 0)
            return reply;
        void *data = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, in, 0);
        if (data == MAP_FAILED)
            return reply;
        const std::string text = ReadShootingInfoText(
            static_cast<const std::uint8_t *>(data), std::size_t(st.st_size),
            std::string(request.Path, strnlen(request.Path, sizeof request.Path)));
        ::munmap(data, std::size_t(st.st_size));
        if (!text.empty() && WriteAll(out, text.data(), text.size()))
            reply.Size = std::int64_t(text.size());
        return reply;
    }
    case TDecodeJob::Picture:
    case TDecodeJob::Metafile: {
        const auto kind = TPictureKind(request.PictureKind);
        if (box.width() <= 0 || box.height() <= 0 || kind == TPictureKind::None ||
            (kind == TPictureKind::Wmf) != (request.Job == TDecodeJob::Metafile))
            return reply;
        QImage image;
        const TDecodeResult result =
            request.Job == TDecodeJob::Metafile
                ? DecodeMetafile(in, box, request.Cover != 0, stop, image)
                : DecodeWithQt(in, kind, box, request.Cover != 0, stop, image);
        reply.Status = TDecodeStatus::Done;
        reply.Code = int(result);
        if (result == TDecodeResult::Ok)
            AnswerPicture(image, out, reply);
        return reply;
    }
    default:
        if (testJobs)
            RunTestJob(request, reply);
        return reply;
    }
}
